#include "IniFile.h"

#include "AppError.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr auto kLockPatience = std::chrono::seconds(5);
constexpr auto kLockRetry = std::chrono::milliseconds(10);

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
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

// A read-only mark is honoured even where permissions would let us through (root):
// it is the user's own word that the file or folder is not to be changed.
bool isWritable(const QByteArray &path, const struct stat &st)
{
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 && ::access(path.constData(), W_OK) == 0;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        left -= n;
    }
    return true;
}

bool lockExclusive(int fd)
{
    const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kLockRetry);
    }
    return true;
}

bool readFile(const QByteArray &path, QByteArray &out)
{
    Fd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        return false;
    out.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        out.append(buffer, n);
    }
}

} // namespace

IniFile::IniFile(QString fileName) : fileName_(std::move(fileName)) {}

IniFile::Stamp IniFile::stampOfFile() const
{
    struct stat st {};
    if (::stat(QFile::encodeName(fileName_).constData(), &st) != 0)
        return {};
    return {true, st.st_dev, st.st_ino, st.st_size, nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
}

// Re-reads the file if it changed since it was last read. False if it exists but cannot be read.
bool IniFile::refresh()
{
    const Stamp stamp = stampOfFile();
    if (loaded_ && stamp == stamp_)
        return true;
    QByteArray bytes;
    if (stamp.exists && !readFile(QFile::encodeName(fileName_), bytes)) {
        document_ = IniDocument();
        loaded_ = false;
        return false;
    }
    document_ = IniDocument::fromBytes(bytes);
    stamp_ = stamp;
    loaded_ = true;
    return true;
}

const IniDocument &IniFile::current()
{
    refresh();
    return document_;
}

void IniFile::failWrite() const
{
    throw AppError(QStringLiteral("Unable to write to %1").arg(fileName_));
}

void IniFile::update(const std::function<void(IniDocument &)> &change)
{
    const QByteArray dirPath = QFile::encodeName(QFileInfo(fileName_).absolutePath());
    Fd dir(::open(dirPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid() || !lockExclusive(dir.get()))
        failWrite();
    if (!refresh())
        failWrite();
    removeLeftovers();

    // From here until the write succeeds the document may differ from the file.
    loaded_ = false;
    change(document_);
    if (document_.isModified()) {
        writeAtomically(document_.toBytes(), dir.get());
        document_.markSaved();
        stamp_ = stampOfFile();
    }
    loaded_ = true;
}

// A writer that was killed between creating its temporary file and renaming it
// leaves the temporary behind. Under the lock no other writer has one open.
void IniFile::removeLeftovers() const
{
    const QFileInfo info(fileName_);
    QDir dir = info.absoluteDir();
    const QString pattern = QLatin1Char('.') + info.fileName() + QStringLiteral(".??????");
    for (const QString &name : dir.entryList({pattern}, QDir::Files | QDir::Hidden | QDir::System))
        dir.remove(name);
}

void IniFile::writeAtomically(const QByteArray &bytes, int dirFd)
{
    const QFileInfo info(fileName_);
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    const QByteArray dirPath = QFile::encodeName(info.absolutePath());

    struct stat dirStat {};
    if (::stat(dirPath.constData(), &dirStat) != 0 || !isWritable(dirPath, dirStat))
        failWrite();
    mode_t mode = S_IRUSR | S_IWUSR;
    struct stat fileStat {};
    if (::stat(target.constData(), &fileStat) == 0) {
        if (!S_ISREG(fileStat.st_mode) || !isWritable(target, fileStat))
            failWrite();
        mode = fileStat.st_mode & 07777;
    }

    QByteArray tempName = dirPath + "/." + QFile::encodeName(info.fileName()) + ".XXXXXX";
    Fd fd(::mkstemp(tempName.data()));
    if (!fd.valid())
        failWrite();
    TempPath temp(tempName);
    if (::fchmod(fd.get(), mode) != 0 || !writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0)
        failWrite();
    fd.reset();
    if (::rename(tempName.constData(), target.constData()) != 0)
        failWrite();
    temp.release();
    ::fsync(dirFd);
}
