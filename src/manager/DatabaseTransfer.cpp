#include "DatabaseTransfer.h"

#include "AppError.h"
#include "FileDialog.h"
#include "BackgroundTask.h"
#include "Catalogue.h"
#include "CatalogueTransfer.h"
#include "MsgBox.h"
#include "PgStore.h"

#include <QAction>
#include <QEventLoop>
#include <QMenu>
#include <QProgressDialog>
#include <QTimer>

#include <exception>

namespace {

// A copy that takes longer than this shows a progress box.
constexpr int kShowProgressMs = 300;

} // namespace

TDatabaseTransfer::TDatabaseTransfer(QMenu *menu, QWidget *window) : QObject(window), window_(window)
{
    setObjectName(QStringLiteral("DatabaseTransfer"));
    actDbImport = new QAction(QStringLiteral("把服务器列表文件导入数据库(&B)..."), this);
    actDbImport->setObjectName(QStringLiteral("actDbImport"));
    actDbExport = new QAction(QStringLiteral("把数据库导出为服务器列表文件..."), this);
    actDbExport->setObjectName(QStringLiteral("actDbExport"));
    connect(actDbImport, &QAction::triggered, this, [this] { Guard([&] { actDbImportExecute(); }); });
    connect(actDbExport, &QAction::triggered, this, [this] { Guard([&] { actDbExportExecute(); }); });
    menu->addSeparator();
    menu->addAction(actDbImport);
    menu->addAction(actDbExport);
    connect(menu, &QMenu::aboutToShow, this, [this] { Guard([&] { UpdateActions(); }); });
    UpdateActions();
}

void TDatabaseTransfer::UpdateActions()
{
    const bool database = Catalogue::HasCurrent() && !Catalogue::Current().DatabaseAddress().isEmpty();
    actDbImport->setVisible(database);
    actDbExport->setVisible(database);
}

QString TDatabaseTransfer::Copy(bool importing, const QString &file, const QString &database)
{
    CatalogueCopySummary summary;
    std::exception_ptr failure;
    TBackgroundTask task([&](const TBackgroundTask::Report &) {
        try {
            summary = importing ? ImportIniIntoDatabase(file, database) : ExportDatabaseToIni(database, file);
        } catch (...) {
            failure = std::current_exception();
        }
    });
    QEventLoop loop;
    connect(&task, &TBackgroundTask::Finished, &loop, &QEventLoop::quit);
    task.Start();
    // User input waits until the copy is done; painting and timers go on.
    while (!task.IsFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (failure)
        std::rethrow_exception(failure);
    const QString where = PgStore::Describe(database);
    return importing ? summary.text(file, where) : summary.text(where, file);
}

void TDatabaseTransfer::actDbImportExecute()
{
    const QString file = FileDialog::GetOpenFileName(window_, QStringLiteral("导入数据库的服务器列表文件"), QString(),
                                                     QStringLiteral("服务器列表文件 (*.ini);;所有文件 (*)"));
    if (!file.isEmpty())
        run(true, file);
}

void TDatabaseTransfer::actDbExportExecute()
{
    const QString file = FileDialog::GetSaveFileName(window_, QStringLiteral("把数据库导出为服务器列表文件"),
                                                     QStringLiteral("SvrList.ini"),
                                                     QStringLiteral("服务器列表文件 (*.ini)"));
    if (!file.isEmpty())
        run(false, file);
}

void TDatabaseTransfer::run(bool importing, const QString &file)
{
    const QString database = Catalogue::Current().DatabaseAddress();
    QProgressDialog progress(importing ? QStringLiteral("正在导入数据库…") : QStringLiteral("正在从数据库导出…"), {}, 0, 0,
                             window_);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(kShowProgressMs);
    progress.setValue(0);
    const QString summary = Copy(importing, file, database);
    progress.reset();
    ShowMessageBox(window_, summary, QMessageBox::Information);
}
