#include "IniFile.h"

#include "AppError.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr auto kLockPatience = std::chrono::seconds(5);
constexpr auto kLockRetry = std::chrono::milliseconds(10);
constexpr int kMaxLinks = 40;

std::function<void()> &beforeReplace()
{
    static std::function<void()> hook;
    return hook;
}

// Why the file could not be read or written, in words the user can act on.
struct Failure {
    QString cause;
};

QString causeOf(int error)
{
    switch (error) {
    case ENOSPC:
        return QStringLiteral("磁盘空间已满");
    case EDQUOT:
        return QStringLiteral("磁盘配额已用完");
    case EROFS:
        return QStringLiteral("文件所在的文件系统为只读");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有访问权限");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("文件所在的文件夹不存在");
    case EFBIG:
        return QStringLiteral("文件超过了允许的大小");
    case EIO:
        return QStringLiteral("磁盘读写出错");
    case ELOOP:
        return QStringLiteral("符号链接过多或成环");
    case ENAMETOOLONG:
        return QStringLiteral("路径过长");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

[[noreturn]] void fail(int error)
{
    throw Failure{causeOf(error)};
}

[[noreturn]] void failNotRegular()
{
    throw Failure{QStringLiteral("它不是普通文件，而是文件夹、管道或设备")};
}

// Closes a descriptor when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// Removes a temporary file unless it was renamed into place.
class TempPath {
public:
    explicit TempPath(QByteArray path) : path_(std::move(path)) {}
    ~TempPath()
    {
        if (!path_.isEmpty())
            ::unlink(path_.constData());
    }
    TempPath(const TempPath &) = delete;
    TempPath &operator=(const TempPath &) = delete;
    void release() { path_.clear(); }

private:
    QByteArray path_;
};

long long nanoseconds(const timespec &t)
{
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

bool hasWriteBit(const struct stat &st)
{
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

// A read-only mark is honoured even where permissions would let us through (root):
// it is the user's own word that the file or folder is not to be changed.
void requireWritable(const QByteArray &path, const struct stat &st, const QString &readOnly)
{
    if (!hasWriteBit(st))
        throw Failure{readOnly};
    if (::access(path.constData(), W_OK) != 0)
        fail(errno);
}

// Writes the pieces one after another, many to a call.
void writeAll(int fd, const std::vector<QByteArrayView> &chunks)
{
    constexpr int kBatch = 512;
    size_t index = 0;     // the piece being written
    qsizetype offset = 0; // how much of it is written
    for (;;) {
        iovec pieces[kBatch];
        int count = 0;
        for (size_t i = index; i < chunks.size() && count < kBatch; ++i) {
            const QByteArrayView piece = i == index ? chunks[i].sliced(offset) : chunks[i];
            if (!piece.isEmpty())
                pieces[count++] = iovec{const_cast<char *>(piece.data()), size_t(piece.size())};
        }
        if (count == 0)
            return;
        ssize_t written = ::writev(fd, pieces, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            fail(errno);
        if (written == 0)
            fail(EIO);
        while (index < chunks.size() && written >= chunks[index].size() - offset) {
            written -= chunks[index].size() - offset;
            ++index;
            offset = 0;
        }
        offset += written;
    }
}

void lockExclusive(int fd)
{
    const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            fail(errno);
        if (std::chrono::steady_clock::now() >= deadline)
            throw Failure{QStringLiteral("文件被另一个进程锁定已超过 5 秒")};
        std::this_thread::sleep_for(kLockRetry);
    }
}

// The whole of a regular file. Opened without blocking, so that a pipe put in its
// place is refused instead of waited on.
QByteArray readFile(const QByteArray &path, bool noFollow)
{
    Fd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (noFollow ? O_NOFOLLOW : 0)));
    if (!fd.valid())
        fail(errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        fail(errno);
    if (!S_ISREG(st.st_mode))
        failNotRegular();
    QByteArray out;
    out.reserve(qsizetype(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(errno);
        if (n == 0)
            return out;
        out.append(buffer, n);
    }
}

// The file that a path names with its symbolic links followed; for a link that
// names no file yet, the file it would create.
QString resolvedTarget(const QString &path)
{
    QString current = QFileInfo(path).absoluteFilePath();
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        const QByteArray encoded = QFile::encodeName(current);
        struct stat st {};
        if (::lstat(encoded.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(encoded.constData(), buffer, sizeof buffer);
        if (n < 0)
            fail(errno);
        current = QFileInfo(current).absoluteDir().absoluteFilePath(QFile::decodeName(QByteArray(buffer, n)));
    }
    fail(ELOOP);
}

} // namespace

IniFile::IniFile(QString fileName, bool ownerOnly) : fileName_(std::move(fileName)), ownerOnly_(ownerOnly) {}

void IniFile::SetBeforeReplace(std::function<void()> hook)
{
    beforeReplace() = std::move(hook);
}

IniFile::Stamp IniFile::stampOfFile() const
{
    struct stat st {};
    const QByteArray path = QFile::encodeName(fileName_);
    if ((ownerOnly_ ? ::lstat(path.constData(), &st) : ::stat(path.constData(), &st)) != 0) {
        if (errno == ENOENT)
            return {};
        fail(errno);
    }
    if (ownerOnly_ && S_ISLNK(st.st_mode))
        return {};
    if (!S_ISREG(st.st_mode))
        failNotRegular();
    return {true, st.st_dev, st.st_ino, st.st_size, nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
}

// Re-reads the file if it changed since it was last read.
void IniFile::refresh()
{
    try {
        const Stamp stamp = stampOfFile();
        if (loaded_ && stamp == stamp_)
            return;
        document_ = IniDocument::fromBytes(stamp.exists ? readFile(QFile::encodeName(fileName_), ownerOnly_) : QByteArray());
        stamp_ = stamp;
        loaded_ = true;
    } catch (const Failure &) {
        document_ = IniDocument();
        loaded_ = false;
        throw;
    }
}

const IniDocument &IniFile::current()
{
    try {
        refresh();
    } catch (const Failure &failure) {
        throw AppError(QStringLiteral("无法读取服务器列表文件 %1\n原因：%2。").arg(fileName_, failure.cause));
    }
    return document_;
}

void IniFile::update(const std::function<void(IniDocument &)> &change)
{
    try {
        const QString target = ownerOnly_ ? QFileInfo(fileName_).absoluteFilePath() : resolvedTarget(fileName_);
        const QByteArray dirPath = QFile::encodeName(QFileInfo(target).absolutePath());
        Fd dir(::open(dirPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!dir.valid())
            fail(errno);
        lockExclusive(dir.get());
        refresh();
        removeLeftovers(target);

        // From here until the write succeeds the document may differ from the file.
        loaded_ = false;
        change(document_);
        if (document_.isModified()) {
            writeAtomically(document_.byteChunks(), dir.get(), target);
            document_.markSaved();
            stamp_ = stampOfFile();
        }
        loaded_ = true;
    } catch (const Failure &failure) {
        throw AppError(QStringLiteral("Unable to write to %1\n原因：%2。").arg(fileName_, failure.cause));
    }
}

// A writer that was killed between creating its temporary file and renaming it
// leaves the temporary behind. Under the lock no other writer has one open.
void IniFile::removeLeftovers(const QString &target) const
{
    const QFileInfo info(target);
    QDir dir = info.absoluteDir();
    const QString pattern = QLatin1Char('.') + info.fileName() + QStringLiteral(".??????");
    for (const QString &name : dir.entryList({pattern}, QDir::Files | QDir::Hidden | QDir::System))
        dir.remove(name);
}

void IniFile::writeAtomically(const std::vector<QByteArrayView> &bytes, int dirFd, const QString &target)
{
    const QFileInfo info(target);
    const QByteArray targetPath = QFile::encodeName(target);
    const QByteArray dirPath = QFile::encodeName(info.absolutePath());

    struct stat dirStat {};
    if (::stat(dirPath.constData(), &dirStat) != 0)
        fail(errno);
    requireWritable(dirPath, dirStat, QStringLiteral("文件所在的文件夹为只读"));
    struct stat fileStat {};
    const bool exists = ownerOnly_ ? ::lstat(targetPath.constData(), &fileStat) == 0 && S_ISREG(fileStat.st_mode)
                                   : ::stat(targetPath.constData(), &fileStat) == 0;
    if (exists && !ownerOnly_) {
        if (!S_ISREG(fileStat.st_mode))
            failNotRegular();
        requireWritable(targetPath, fileStat, QStringLiteral("文件为只读"));
    }

    QByteArray tempName = dirPath + "/." + QFile::encodeName(info.fileName()) + ".XXXXXX";
    Fd fd(::mkostemp(tempName.data(), O_CLOEXEC));
    if (!fd.valid())
        fail(errno);
    TempPath temp(tempName);
    // The replacement keeps the owner and group of the file it replaces (a root
    // writer must not take the user's file from him), then its mode.
    if (exists && !ownerOnly_ && (fileStat.st_uid != ::geteuid() || fileStat.st_gid != ::getegid())) {
        if (::fchown(fd.get(), fileStat.st_uid, fileStat.st_gid) != 0
            && ::fchown(fd.get(), uid_t(-1), fileStat.st_gid) != 0) {
            // Neither: the replacement keeps our owner and group, as a new file would.
        }
    }
    const mode_t mode = exists && !ownerOnly_ ? (fileStat.st_mode & 07777) : (S_IRUSR | S_IWUSR);
    if (::fchmod(fd.get(), mode) != 0)
        fail(errno);
    writeAll(fd.get(), bytes);
    if (::fsync(fd.get()) != 0)
        fail(errno);
    if (beforeReplace())
        beforeReplace()();
    fd.reset();
    if (::rename(tempName.constData(), targetPath.constData()) != 0)
        fail(errno);
    temp.release();
    ::fsync(dirFd);
}
