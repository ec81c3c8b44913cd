#include "ImportFileBytes.h"

#include "ImportRecord.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes the descriptor when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString tooLarge(qint64 maxSize)
{
    return QStringLiteral("文件太大（超过 %1 MB）").arg(maxSize / (1024 * 1024));
}

} // namespace

QByteArray ReadImportBytes(const QString &path, qint64 maxSize)
{
    const QByteArray name = QFile::encodeName(path);
    const Descriptor fd(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        ThrowUnreadable(path, systemError(errno));
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        ThrowUnreadable(path, systemError(errno));
    if (S_ISDIR(info.st_mode))
        ThrowUnreadable(path, QStringLiteral("这是一个文件夹"));
    if (!S_ISREG(info.st_mode))
        ThrowUnreadable(path, QStringLiteral("不是普通文件（可能是管道、设备或套接字），不能导入"));
    if (info.st_size > maxSize)
        ThrowUnreadable(path, tooLarge(maxSize));

    QByteArray bytes;
    bytes.resize(qsizetype(info.st_size) + 1);
    qsizetype filled = 0;
    const qsizetype limit = qsizetype(maxSize) + 1;
    for (;;) {
        if (filled == bytes.size()) {
            if (filled >= limit)
                break;
            bytes.resize(std::min(limit, std::max<qsizetype>(filled * 2, 4096)));
        }
        const ssize_t got = ::read(fd.get(), bytes.data() + filled, size_t(bytes.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            ThrowUnreadable(path, systemError(errno));
        if (got == 0)
            break;
        filled += got;
    }
    if (filled > maxSize)
        ThrowUnreadable(path, tooLarge(maxSize));
    bytes.truncate(filled);
    return bytes;
}
