// The folder of remembered server certificates, kept private.
#include "RdpCertificateStore.h"

#include <QDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

QString SystemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString NotPlain(const QString &path, const struct stat &info, const QString &wanted)
{
    QString kind = QStringLiteral("特殊文件");
    if (S_ISLNK(info.st_mode))
        kind = QStringLiteral("符号链接");
    else if (S_ISFIFO(info.st_mode))
        kind = QStringLiteral("管道");
    else if (S_ISDIR(info.st_mode))
        kind = QStringLiteral("文件夹");
    else if (S_ISREG(info.st_mode))
        kind = QStringLiteral("文件");
    return QStringLiteral("证书存储 %1 是%2,不是%3,拒绝使用").arg(path, kind, wanted);
}

// The folder exists as a real folder of mode 0700.
QString PrivateFolder(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0) {
        if (errno != ENOENT)
            return QStringLiteral("无法使用证书存储 %1: %2").arg(path, SystemError());
        const QString parent = QFileInfo(path).absolutePath();
        if (!QDir().mkpath(parent))
            return QStringLiteral("无法创建证书存储的文件夹 %1").arg(parent);
        if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
            return QStringLiteral("无法创建证书存储的文件夹 %1: %2").arg(path, SystemError());
        if (::lstat(name.constData(), &info) != 0)
            return QStringLiteral("无法使用证书存储 %1: %2").arg(path, SystemError());
    }
    if (!S_ISDIR(info.st_mode))
        return NotPlain(path, info, QStringLiteral("文件夹"));
    if ((info.st_mode & 077) != 0 && info.st_uid == ::geteuid() && ::chmod(name.constData(), 0700) != 0)
        return QStringLiteral("无法设置证书存储 %1 的权限: %2").arg(path, SystemError());
    return {};
}

// The file is absent (the library creates it; it is made here first, private)
// or a regular file of mode 0600.
QString PrivateFile(const QString &path, bool create)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0) {
        if (errno != ENOENT)
            return QStringLiteral("无法使用证书存储 %1: %2").arg(path, SystemError());
        if (!create)
            return {};
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return QStringLiteral("无法创建证书存储 %1: %2").arg(path, SystemError());
        ::close(fd);
        return {};
    }
    if (!S_ISREG(info.st_mode))
        return NotPlain(path, info, QStringLiteral("普通文件"));
    if ((info.st_mode & 077) != 0 && info.st_uid == ::geteuid() && ::chmod(name.constData(), 0600) != 0)
        return QStringLiteral("无法设置证书存储 %1 的权限: %2").arg(path, SystemError());
    return {};
}

} // namespace

QString PrepareCertificateStore(const QString &folder)
{
    const QDir dir(folder);
    QString error = PrivateFolder(folder);
    for (const char *sub : {"certs", "server"})
        if (error.isEmpty())
            error = PrivateFolder(dir.filePath(QLatin1String(sub)));
    if (error.isEmpty())
        error = PrivateFile(dir.filePath(QStringLiteral("known_hosts2")), true);
    if (error.isEmpty())
        error = PrivateFile(dir.filePath(QStringLiteral("known_hosts")), false);
    return error;
}
