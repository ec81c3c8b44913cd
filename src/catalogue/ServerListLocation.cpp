#include "ServerListLocation.h"

#include "ProgramSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kFileName = QStringLiteral("SvrList.ini");

// Writable for us, and not marked read-only by its owner (which root would pass by).
bool writableFolder(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode)
        && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 && ::access(path.constData(), W_OK) == 0;
}

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
    if (present(portable) || writableFolder(programFolder))
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
