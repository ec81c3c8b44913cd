#include "RdpRelay.h"

#include "RdpRelayLoop.h"
#include "RdpRelayState.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

RdpRelay::RdpRelay() : state_(std::make_shared<RdpRelayState>()) {}

RdpRelay::~RdpRelay()
{
    Stop();
}

namespace {

constexpr char FolderPrefix[] = "brennic-rdp-";

// The address of the socket at path; false when the path does not fit.
bool UnixAddress(const QByteArray &path, sockaddr_un &address)
{
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return true;
}

// A folder of a relay that can no longer serve: its process (named in the folder's
// name) is gone; or, named without one, nobody listens on its socket and it is
// not new.
bool IsStale(const QFileInfo &folder)
{
    const QString rest = folder.fileName().mid(int(sizeof FolderPrefix) - 1);
    const QString pidText = rest.section(QLatin1Char('-'), 0, 0);
    bool numbered = false;
    const qint64 pid = rest.contains(QLatin1Char('-')) ? pidText.toLongLong(&numbered) : 0;
    if (numbered && pid > 0)
        return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
    if (folder.lastModified().secsTo(QDateTime::currentDateTime()) < 60)
        return false;
    sockaddr_un address;
    if (!UnixAddress(QFile::encodeName(folder.filePath() + QStringLiteral("/s")), address))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool listening = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return !listening;
}

} // namespace

void RdpRelay::RemoveStaleFolders(const QString &parent)
{
    const QDir dir(parent.isEmpty() ? QDir::tempPath() : parent);
    const QFileInfoList folders = dir.entryInfoList({QLatin1String(FolderPrefix) + QLatin1Char('*')},
                                                    QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden);
    for (const QFileInfo &folder : folders) {
        // Only ours, and only what a relay puts there: its socket.
        if (folder.ownerId() != ::getuid() || !IsStale(folder))
            continue;
        ::unlink(QFile::encodeName(folder.filePath() + QStringLiteral("/s")).constData());
        ::rmdir(QFile::encodeName(folder.filePath()).constData());
    }
}

bool RdpRelay::Start()
{
    // The process in the name tells a later start whether the folder is still in use.
    QByteArray pattern = QFile::encodeName(QDir::tempPath()) + '/' + FolderPrefix + QByteArray::number(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) // mode 0700
        return false;
    dir_ = pattern;
    path_ = dir_ + "/s";
    const int listenFd = Listen();
    if (listenFd < 0)
        return false;
    std::shared_ptr<RdpRelayLoop> loop = RdpRelayLoop::Shared();
    if (!loop) {
        ::close(listenFd);
        return false;
    }
    std::lock_guard guard(lock_);
    loop_ = std::move(loop);
    id_ = loop_->Add(listenFd, state_);
    return true;
}

int RdpRelay::Listen()
{
    sockaddr_un address;
    if (!UnixAddress(path_, address))
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void RdpRelay::Cancel()
{
    state_->cancelled = true;
    std::lock_guard guard(lock_);
    if (loop_)
        loop_->Cancel(id_);
}

void RdpRelay::Stop()
{
    Cancel();
    std::shared_ptr<RdpRelayLoop> loop;
    {
        std::lock_guard guard(lock_);
        loop.swap(loop_);
    }
    if (loop)
        loop->Remove(id_);
    loop.reset(); // the last relay to go ends the loop
    if (!path_.isEmpty())
        ::unlink(path_.constData());
    if (!dir_.isEmpty())
        ::rmdir(dir_.constData());
    path_.clear();
    dir_.clear();
}

RdpConnectFailure RdpRelay::Failure() const
{
    return state_->failure;
}

RdpLinkEnd RdpRelay::LinkEnd() const
{
    return state_->link;
}

int RdpRelay::Requests() const
{
    return state_->requests;
}

void RdpRelay::SetLossDetection(int milliseconds)
{
    state_->lossDetectMs = milliseconds;
}

void RdpRelay::BeginAttempt(int reachMs, int handshakeMs)
{
    state_->failure = RdpConnectFailure::None;
    state_->link = RdpLinkEnd::Open;
    state_->handshakeMs = std::max(1, handshakeMs);
    state_->attemptEnd = RdpRelayState::NowMs() + std::max(1, reachMs);
    std::lock_guard guard(lock_);
    if (loop_)
        loop_->Wake();
}

void RdpRelay::EndAttempt()
{
    state_->attemptEnd = 0;
}
