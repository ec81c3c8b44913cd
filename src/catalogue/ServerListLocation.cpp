#include "ServerListLocation.h"

#include "RdpCommon.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kFileName = QStringLiteral("SvrList.ini");

// Writable for us, and not marked read-only by its owner (which root would pass by).
bool writableFolder(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 && ::access(path.constData(), W_OK) == 0;
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

ServerListOptions ParseServerListOptions(const QStringList &arguments)
{
    ServerListOptions options;
    const QString fileOption = QStringLiteral("--file");
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        QString file;
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            options.help = true;
            continue;
        }
        if (argument == fileOption) {
            if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()) {
                options.error = QStringLiteral("选项 --file 后面需要服务器列表文件的路径。");
                return options;
            }
            file = arguments[++i];
        } else if (argument.startsWith(fileOption + QLatin1Char('='))) {
            file = argument.mid(fileOption.size() + 1);
            if (file.isEmpty()) {
                options.error = QStringLiteral("选项 --file 后面需要服务器列表文件的路径。");
                return options;
            }
        } else {
            continue;
        }
        options.file = QFileInfo(file).absoluteFilePath();
    }
    return options;
}

QString ServerListUsage(const QString &program)
{
    return QStringLiteral("用法：%1 [--file 文件]\n"
                          "  --file 文件  使用这个服务器列表文件，而不是默认的 SvrList.ini\n"
                          "  --help       显示本说明\n"
                          "默认的服务器列表文件：程序目录下的 SvrList.ini（已存在或程序目录可写时），\n"
                          "否则为 $XDG_CONFIG_HOME/brennic/SvrList.ini。\n")
        .arg(program);
}

std::optional<int> ApplyServerListOptions(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ServerListOptions options = ParseServerListOptions(arguments);
    const QString program = QFileInfo(arguments.value(0)).fileName();
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "%s\n%s", qPrintable(options.error), qPrintable(ServerListUsage(program)));
        return 2;
    }
    if (options.help) {
        std::fputs(qPrintable(ServerListUsage(program)), stdout);
        return 0;
    }
    if (!options.file.isEmpty())
        UseIniFile(options.file);
    return std::nullopt;
}
