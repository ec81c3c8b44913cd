#include "ServerListLocation.h"

#include "ProgramSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

const QString kFileName = QStringLiteral("SvrList.ini");

bool present(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

QString configHome()
{
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

// Makes the folder and any missing parents, each readable by its user alone.
void makePrivateFolder(const QString &folder)
{
    QString path;
    for (const QString &part : QDir::cleanPath(folder).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path += QLatin1Char('/') + part;
        ::mkdir(QFile::encodeName(path).constData(), 0700);
    }
}

} // namespace

QString DefaultServerListFile(const QString &programFolder)
{
    const QString portable = QDir(programFolder).filePath(kFileName);
    if (present(portable))
        return portable;
    const QString folder = configHome() + QStringLiteral("/brennic");
    makePrivateFolder(folder);
    return folder + QLatin1Char('/') + kFileName;
}

QString PrivateConfigFolder(const QString &name)
{
    const QString folder = configHome() + QStringLiteral("/brennic/") + name;
    makePrivateFolder(folder);
    return folder;
}

QString DatabaseSetting()
{
    return ProgramSettings().value(QStringLiteral("Catalogue/Database")).toString().trimmed();
}
