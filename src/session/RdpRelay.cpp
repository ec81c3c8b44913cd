#include "RdpRelay.h"

#include "ServerAddress.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// A name look-up that may hang runs on a thread of its own, which goes by itself
// once the resolver returns; the relay waits for it or for the cancel.
struct Lookup {
    std::mutex lock;
    bool done = false;
    int error = 0;
    addrinfo *result = nullptr;
    int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

    ~Lookup()
    {
        if (result)
            ::freeaddrinfo(result);
        if (wakeFd >= 0)
            ::close(wakeFd);
    }
};

std::shared_ptr<Lookup> StartLookup(const QByteArray &host, int port)
{
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host, port] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *result = nullptr;
        const int error = ::getaddrinfo(host.constData(), QByteArray::number(port).constData(), &hints, &result);
        std::lock_guard guard(lookup->lock);
        lookup->done = true;
        lookup->error = error;
        lookup->result = result;
        ::eventfd_write(lookup->wakeFd, 1);
    }).detach();
    return lookup;
}

RdpConnectFailure FailureOfErrno(int error)
{
    switch (error) {
    case ECONNREFUSED: return RdpConnectFailure::Refused;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN: return RdpConnectFailure::Unreachable;
    }
    return RdpConnectFailure::Failed;
}

bool WriteAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

qint64 NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SetBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

} // namespace

RdpRelay::RdpRelay() : cancelFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

RdpRelay::~RdpRelay()
{
    Stop();
    if (cancelFd_ >= 0)
        ::close(cancelFd_);
}

namespace {

constexpr char FolderPrefix[] = "brennic-rdp-";

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
    const QByteArray socketPath = QFile::encodeName(folder.filePath() + QStringLiteral("/s"));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(socketPath.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
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
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(path_.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path_.constData(), size_t(path_.size()));
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listenFd_, 4) != 0)
        return false;
    Track(listenFd_);
    thread_ = std::thread(&RdpRelay::Run, this);
    return true;
}

void RdpRelay::Cancel()
{
    cancelled_ = true;
    if (cancelFd_ >= 0)
        ::eventfd_write(cancelFd_, 1);
    std::lock_guard guard(fdLock_);
    for (int fd : open_)
        ::shutdown(fd, SHUT_RDWR);
}

void RdpRelay::Stop()
{
    Cancel();
    if (thread_.joinable())
        thread_.join();
    Close(listenFd_);
    if (!path_.isEmpty())
        ::unlink(path_.constData());
    if (!dir_.isEmpty())
        ::rmdir(dir_.constData());
    path_.clear();
    dir_.clear();
}

void RdpRelay::BeginAttempt(int reachMs, int handshakeMs)
{
    failure_ = RdpConnectFailure::None;
    link_ = RdpLinkEnd::Open;
    handshakeMs_ = std::max(1, handshakeMs);
    attemptEnd_ = NowMs() + std::max(1, reachMs);
}

void RdpRelay::EndAttempt()
{
    attemptEnd_ = 0;
}

bool RdpRelay::AttemptOver() const
{
    const qint64 end = attemptEnd_;
    return end != 0 && NowMs() >= end;
}

int RdpRelay::WithinAttempt(int timeoutMs) const
{
    const qint64 end = attemptEnd_;
    if (end == 0)
        return timeoutMs;
    const int left = int(std::clamp<qint64>(end - NowMs(), 0, 24 * 3600 * 1000));
    return timeoutMs < 0 ? left : std::min(timeoutMs, left);
}

// Keep-alive probes while nothing flows, and a limit on how long sent data may
// stay unanswered: a host that has gone from the network is noticed in about
// the detection time, not after the system's quarter of an hour.
void RdpRelay::DetectLoss(int fd) const
{
    if (lossDetectMs_ <= 0)
        return;
    const int idle = std::max(1, lossDetectMs_ / 3000);
    const int interval = 1;
    const int probes = std::max(1, lossDetectMs_ / 1000);
    const unsigned unanswered = unsigned(lossDetectMs_);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unanswered, sizeof unanswered);
}

// A reset came from the server's host; anything else (no answer, no route) means
// the host is out of reach.
void RdpRelay::NoteServerError(int error)
{
    link_ = error == ECONNRESET || error == EPIPE ? RdpLinkEnd::Reset : RdpLinkEnd::Lost;
}

void RdpRelay::Track(int fd)
{
    std::lock_guard guard(fdLock_);
    open_.push_back(fd);
    if (cancelled_)
        ::shutdown(fd, SHUT_RDWR);
}

void RdpRelay::Close(int &fd)
{
    if (fd < 0)
        return;
    std::lock_guard guard(fdLock_);
    std::erase(open_, fd);
    ::close(fd);
    fd = -1;
}

bool RdpRelay::WaitFor(int fd, short events, int timeoutMs, bool withinAttempt)
{
    pollfd p[2] = {{fd, events, 0}, {cancelFd_, POLLIN, 0}};
    for (;;) {
        if (cancelled_ || (withinAttempt && AttemptOver()))
            return false;
        const int n = ::poll(p, 2, withinAttempt ? WithinAttempt(timeoutMs) : timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || (p[1].revents & POLLIN) || cancelled_)
            return false;
        return p[0].revents != 0;
    }
}

void RdpRelay::Run()
{
    pthread_setname_np(pthread_self(), "rdp-relay"); // for the process's thread list
    Serve();
    // Refused from now on: a library that tries again fails at once.
    Close(listenFd_);
}

void RdpRelay::Serve()
{
    while (!cancelled_) {
        if (!WaitFor(listenFd_, POLLIN, -1, false))
            return;
        int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        ucred peer{};
        socklen_t length = sizeof peer;
        // Only this program may use the relay.
        if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.pid != ::getpid()) {
            ::close(client);
            continue;
        }
        Track(client);
        Serve(client);
        Close(client);
    }
}

// The library's proxy request, up to its empty line: the server it names (the
// one of the settings, or another the server redirected it to).
bool RdpRelay::ReadRequest(int client, QByteArray &host, int &port)
{
    QByteArray request;
    while (!request.contains("\r\n\r\n")) {
        if (request.size() > 4096 || !WaitFor(client, POLLIN))
            return false;
        char buffer[512];
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        request.append(buffer, n);
    }
    // Exactly "CONNECT host:port HTTP/1.x": nothing may hide in the target.
    const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
    if (words.size() != 3 || words[0] != "CONNECT" || !words[2].startsWith("HTTP/1."))
        return false;
    const QByteArray &target = words[1];
    const qsizetype colon = target.lastIndexOf(':');
    const QByteArray digits = colon > 0 ? target.mid(colon + 1) : QByteArray();
    if (digits.isEmpty() || digits.size() > 5 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    port = digits.toInt();
    host = target.left(colon);
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2);
    return port > 0 && port < 65536 && IsServerAddress(QString::fromUtf8(host));
}

void RdpRelay::Serve(int client)
{
    QByteArray host;
    int port = 0;
    if (!ReadRequest(client, host, port))
        return;
    ++requests_;
    int server = ConnectServer(host, port);
    if (server < 0) {
        static const char refused[] = "HTTP/1.1 502 Bad Gateway\r\n\r\n";
        WriteAll(client, refused, sizeof refused - 1);
        return;
    }
    static const char established[] = "HTTP/1.1 200 Connection established\r\n\r\n";
    if (WriteAll(client, established, sizeof established - 1))
        Pump(client, server);
    Close(server);
}

int RdpRelay::ConnectServer(const QByteArray &host, int port)
{
    const std::shared_ptr<Lookup> lookup = StartLookup(host, port);
    if (!WaitFor(lookup->wakeFd, POLLIN)) {
        if (AttemptOver())
            failure_ = RdpConnectFailure::Failed;
        return -1;
    }
    std::lock_guard guard(lookup->lock);
    if (lookup->error != 0 || !lookup->result) {
        failure_ = lookup->error == EAI_SYSTEM ? RdpConnectFailure::Failed : RdpConnectFailure::NameNotFound;
        return -1;
    }
    // IPv4 first, as the library does; an address that does not answer gets a
    // few seconds before the next is tried, the last one all the time there is.
    std::vector<const addrinfo *> addresses;
    for (const addrinfo *a = lookup->result; a; a = a->ai_next)
        if (a->ai_family == AF_INET)
            addresses.push_back(a);
    for (const addrinfo *a = lookup->result; a; a = a->ai_next)
        if (a->ai_family == AF_INET6)
            addresses.push_back(a);
    for (size_t i = 0; i < addresses.size(); ++i) {
        const int fd = ConnectAddress(addresses[i], i + 1 < addresses.size() ? 4000 : -1);
        if (fd >= 0) {
            failure_ = RdpConnectFailure::None;
            // The server is reached: the attempt has the handshake's time from
            // now, unless it has ended meanwhile.
            qint64 end = attemptEnd_;
            if (end != 0)
                attemptEnd_.compare_exchange_strong(end, NowMs() + handshakeMs_);
            return fd;
        }
        if (cancelled_)
            return -1;
    }
    return -1;
}

int RdpRelay::ConnectAddress(const addrinfo *address, int limitMs)
{
    int fd = ::socket(address->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        failure_ = RdpConnectFailure::Failed;
        return -1;
    }
    Track(fd);
    int error = 0;
    if (::connect(fd, address->ai_addr, address->ai_addrlen) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            error = ETIMEDOUT;
            if (WaitFor(fd, POLLOUT, limitMs)) {
                socklen_t size = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
            }
        }
    }
    if (error != 0 || cancelled_) {
        failure_ = FailureOfErrno(error);
        Close(fd);
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    DetectLoss(fd);
    SetBlocking(fd);
    return fd;
}

// Bytes both ways until both sides have finished or the relay is cancelled.
void RdpRelay::Pump(int client, int server)
{
    std::vector<char> buffer(256 * 1024);
    bool clientOpen = true;
    bool serverOpen = true;
    while ((clientOpen || serverOpen) && !cancelled_) {
        pollfd p[3] = {{clientOpen ? client : -1, POLLIN, 0}, {serverOpen ? server : -1, POLLIN, 0}, {cancelFd_, POLLIN, 0}};
        const int n = ::poll(p, 3, WithinAttempt(-1));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || p[2].revents)
            return;
        if (n == 0) {
            // The attempt's time is up before its session came up.
            if (!AttemptOver())
                continue;
            link_ = RdpLinkEnd::Lost;
            return;
        }
        for (int side = 0; side < 2; ++side) {
            if (!p[side].revents)
                continue;
            const int from = side == 0 ? client : server;
            const int to = side == 0 ? server : client;
            const ssize_t got = ::recv(from, buffer.data(), buffer.size(), 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                // One side has finished: the other hears of it, and if it was
                // an error, both are done.
                if (side == 1) {
                    if (got < 0)
                        NoteServerError(errno);
                    else
                        link_ = RdpLinkEnd::Closed;
                }
                (side == 0 ? clientOpen : serverOpen) = false;
                ::shutdown(to, SHUT_WR);
                if (got < 0)
                    return;
                continue;
            }
            if (!WriteAll(to, buffer.data(), size_t(got))) {
                if (to == server)
                    NoteServerError(errno);
                return;
            }
        }
    }
}
