#include "RdpRelayChannel.h"

#include "RdpRelayLoop.h"
#include "RdpRelayPump.h"
#include "ServerAddress.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr int RequestLimit = 4096;
// An address that does not answer gets this long before the next is tried;
// the last one all the time there is.
constexpr int AddressMs = 4000;

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

// The library's proxy request, up to its empty line: the server it names (the
// one of the settings, or another the server redirected it to). Exactly
// "CONNECT host:port HTTP/1.x": nothing may hide in the target.
bool ParseRequest(const QByteArray &request, QByteArray &host, int &port)
{
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

// IPv4 first, as the library does, then IPv6; none that is no server's.
std::vector<IpAddress> InOrder(const std::vector<IpAddress> &addresses)
{
    std::vector<IpAddress> ordered;
    for (bool v6 : {false, true})
        for (const IpAddress &address : addresses)
            if (address.isValid() && address.isV6() == v6 && !address.isNoServer())
                ordered.push_back(address);
    return ordered;
}

// Keep-alive probes while nothing flows, and a limit on how long sent data may
// stay unanswered: a host that has gone from the network is noticed in about
// the detection time, not after the system's quarter of an hour.
void DetectLoss(int fd, int detectMs)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    if (detectMs <= 0)
        return;
    const int idle = std::max(1, detectMs / 3000);
    const int interval = 1;
    const int probes = std::max(1, detectMs / 1000);
    const unsigned unanswered = unsigned(detectMs);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unanswered, sizeof unanswered);
}

// A reset came from the server's host; anything else (no answer, no route) means
// the host is out of reach.
RdpLinkEnd LinkEndOfErrno(int error)
{
    return error == ECONNRESET || error == EPIPE ? RdpLinkEnd::Reset : RdpLinkEnd::Lost;
}

} // namespace

RdpRelayChannel::RdpRelayChannel(RdpRelayLoop &loop, std::uint64_t id, int listenFd, std::shared_ptr<RdpRelayState> state)
    : loop_(loop), id_(id), state_(std::move(state)), listenFd_(listenFd)
{
    if (state_->cancelled)
        Cancel();
    else
        WatchListener();
}

RdpRelayChannel::~RdpRelayChannel()
{
    EndConnection();
    Close(listenFd_);
}

void RdpRelayChannel::Close(int &fd)
{
    if (fd < 0)
        return;
    loop_.Watch(fd, 0, id_);
    ::close(fd);
    fd = -1;
}

void RdpRelayChannel::WatchListener()
{
    if (listenFd_ >= 0)
        loop_.Watch(listenFd_, EPOLLIN, id_);
}

void RdpRelayChannel::Cancel()
{
    if (phase_ == Phase::Connecting)
        state_->failure = RdpConnectFailure::Failed;
    EndConnection();
    // Refused from now on: a library that tries again fails at once.
    Close(listenFd_);
}

void RdpRelayChannel::Handle(int fd, std::uint32_t events)
{
    if (fd == listenFd_) {
        Accept();
    } else if (fd == client_ && phase_ == Phase::Request) {
        ReadRequest();
    } else if (phase_ == Phase::Pumping) {
        Pump(fd == client_ ? events : 0, fd == server_ ? events : 0);
    } else if (fd == server_ && phase_ == Phase::Connecting) {
        int error = 0;
        socklen_t size = sizeof error;
        ::getsockopt(server_, SOL_SOCKET, SO_ERROR, &error, &size);
        if (error == 0 && !(events & (EPOLLERR | EPOLLHUP)))
            Connected();
        else
            ConnectFailed(error != 0 ? error : ECONNREFUSED);
    }
}

void RdpRelayChannel::Accept()
{
    for (;;) {
        const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0)
            return;
        ucred peer{};
        socklen_t length = sizeof peer;
        // Only this program may use the relay.
        if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.pid != ::getpid()) {
            ::close(client);
            continue;
        }
        // One connection at a time: the next waits in the listening queue.
        loop_.Watch(listenFd_, 0, id_);
        client_ = client;
        phase_ = Phase::Request;
        request_.clear();
        loop_.Watch(client_, EPOLLIN, id_);
        return;
    }
}

void RdpRelayChannel::ReadRequest()
{
    char buffer[512];
    for (;;) {
        const ssize_t n = ::recv(client_, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        if (n <= 0)
            return EndConnection();
        request_.append(buffer, n);
        if (request_.contains("\r\n\r\n"))
            break;
        if (request_.size() > RequestLimit)
            return EndConnection();
    }
    QByteArray host;
    if (!ParseRequest(request_, host, port_))
        return EndConnection();
    ++state_->requests;
    // Nothing more is read from the library until the server is reached.
    loop_.Watch(client_, 0, id_);
    if (const std::optional<IpAddress> literal = IpAddress::parseLiteral(host))
        return Connect({*literal});
    std::vector<IpAddress> addresses;
    phase_ = Phase::Lookup;
    if (loop_.Resolve(host, id_, addresses))
        Resolved(addresses);
}

void RdpRelayChannel::Resolved(const std::vector<IpAddress> &addresses)
{
    if (phase_ != Phase::Lookup)
        return;
    if (addresses.empty()) {
        state_->failure = RdpConnectFailure::NameNotFound;
        return Refuse();
    }
    Connect(addresses);
}

void RdpRelayChannel::Connect(std::vector<IpAddress> addresses)
{
    addresses_ = InOrder(addresses);
    nextAddress_ = 0;
    phase_ = Phase::Connecting;
    if (addresses_.empty()) {
        state_->failure = RdpConnectFailure::Failed;
        return Refuse();
    }
    TryNextAddress();
}

void RdpRelayChannel::TryNextAddress()
{
    while (nextAddress_ < addresses_.size()) {
        const IpAddress &address = addresses_[nextAddress_++];
        const bool last = nextAddress_ == addresses_.size();
        addressEnd_ = last ? 0 : RdpRelayState::NowMs() + AddressMs;
        sockaddr_storage target{};
        const socklen_t length = address.toSockaddr(target, quint16(port_));
        server_ = ::socket(address.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (server_ < 0) {
            state_->failure = RdpConnectFailure::Failed;
            continue;
        }
        if (::connect(server_, reinterpret_cast<sockaddr *>(&target), length) == 0)
            return Connected();
        if (errno == EINPROGRESS) {
            loop_.Watch(server_, EPOLLOUT, id_);
            return;
        }
        state_->failure = FailureOfErrno(errno);
        Close(server_);
    }
    Refuse();
}

void RdpRelayChannel::ConnectFailed(int error)
{
    state_->failure = FailureOfErrno(error);
    Close(server_);
    TryNextAddress();
}

void RdpRelayChannel::Connected()
{
    state_->failure = RdpConnectFailure::None;
    DetectLoss(server_, state_->lossDetectMs);
    // The server is reached: the attempt has the handshake's time from now,
    // unless it has ended meanwhile.
    qint64 end = state_->attemptEnd;
    if (end != 0)
        state_->attemptEnd.compare_exchange_strong(end, RdpRelayState::NowMs() + state_->handshakeMs);
    pump_ = std::make_unique<RdpRelayPump>(client_, server_, QByteArrayLiteral("HTTP/1.1 200 Connection established\r\n\r\n"));
    if (!pump_->Ready()) {
        state_->failure = RdpConnectFailure::Failed;
        return Refuse();
    }
    phase_ = Phase::Pumping;
    serverEnded_ = false;
    // The reply goes out at once; both sides are read when they have something.
    Pump(EPOLLOUT, 0);
}

void RdpRelayChannel::Pump(std::uint32_t clientEvents, std::uint32_t serverEvents)
{
    const RdpRelayPump::Outcome outcome = pump_->Move(clientEvents, serverEvents);
    if (pump_->ServerEnded() && !serverEnded_) {
        serverEnded_ = true;
        state_->link = RdpLinkEnd::Closed;
    }
    switch (outcome) {
    case RdpRelayPump::Outcome::Flowing:
        loop_.Watch(client_, pump_->ClientEvents(), id_);
        loop_.Watch(server_, pump_->ServerEvents(), id_);
        return;
    case RdpRelayPump::Outcome::ServerFailed: state_->link = LinkEndOfErrno(pump_->ServerError()); break;
    case RdpRelayPump::Outcome::ClientFailed:
    case RdpRelayPump::Outcome::Finished: break;
    }
    EndConnection();
}

// The library hears that the server could not be reached.
void RdpRelayChannel::Refuse()
{
    static const char refused[] = "HTTP/1.1 502 Bad Gateway\r\n\r\n";
    if (client_ >= 0)
        [[maybe_unused]]
        const ssize_t sent = ::send(client_, refused, sizeof refused - 1, MSG_NOSIGNAL);
    EndConnection();
}

void RdpRelayChannel::EndConnection()
{
    pump_.reset();
    Close(server_);
    Close(client_);
    addresses_.clear();
    addressEnd_ = 0;
    const bool wasIdle = phase_ == Phase::Idle;
    phase_ = Phase::Idle;
    if (!wasIdle)
        WatchListener();
}

std::optional<qint64> RdpRelayChannel::Deadline() const
{
    if (phase_ == Phase::Idle)
        return std::nullopt;
    const qint64 end = state_->attemptEnd;
    std::optional<qint64> at;
    if (end != 0)
        at = end;
    if (phase_ == Phase::Connecting && addressEnd_ != 0)
        at = at ? std::min(*at, addressEnd_) : addressEnd_;
    return at;
}

void RdpRelayChannel::Expire(qint64 now)
{
    if (phase_ == Phase::Idle)
        return;
    if (state_->AttemptOver(now)) {
        // The attempt's time is up before its session came up.
        if (phase_ == Phase::Lookup || phase_ == Phase::Connecting) {
            state_->failure = RdpConnectFailure::Failed;
            return Refuse();
        }
        if (phase_ == Phase::Pumping)
            state_->link = RdpLinkEnd::Lost;
        return EndConnection();
    }
    if (phase_ == Phase::Connecting && addressEnd_ != 0 && now >= addressEnd_)
        ConnectFailed(ETIMEDOUT);
}
