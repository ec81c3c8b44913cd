#include "AppError.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

AppError::AppError(QString message)
    : message_(std::move(message)), utf8_(message_.toUtf8())
{
}

QString AppTitle()
{
    const QString path = QCoreApplication::instance() ? QCoreApplication::applicationFilePath()
                                                      : QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    const QString name = QFileInfo(path).completeBaseName();
    return name.left(1) + name.mid(1).toLower();
}

namespace {

AppErrorPresenter &presenter()
{
    static AppErrorPresenter installed;
    return installed;
}

} // namespace

void SetAppErrorPresenter(AppErrorPresenter p)
{
    presenter() = std::move(p);
}

void PresentAppError(const QString &message)
{
    if (presenter())
        presenter()(message);
    else
        std::fprintf(stderr, "%s: %s\n", qPrintable(AppTitle()), qPrintable(message));
}
