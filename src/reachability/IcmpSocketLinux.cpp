// Linux ICMP echo sockets: SOCK_DGRAM + IPPROTO_ICMP(V6) where
// net.ipv4.ping_group_range admits the user, else SOCK_RAW with CAP_NET_RAW.
#include "IcmpSocket.h"

#include "EchoRequest.h"

#include <QRandomGenerator>

#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr unsigned char EchoRequestV4 = 8, EchoReplyV4 = 0;
constexpr unsigned char EchoRequestV6 = 128, EchoReplyV6 = 129;
constexpr int ReceiveBuffer = 4 * 1024 * 1024;

unsigned short checksum(const unsigned char *data, int size)
{
    unsigned long sum = 0;
    for (int i = 0; i + 1 < size; i += 2)
        sum += (unsigned(data[i]) << 8) | data[i + 1];
    if (size & 1)
        sum += unsigned(data[size - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<unsigned short>(~sum & 0xffff);
}

// ICMP errors (destination, host or network unreachable, administratively
// prohibited) are no reply: a probe that draws one ends by its time-out with
// no reply, as fping and ping count it, since such an error proves nothing
// about the host and arrives, if at all, rate-limited. So a raw socket is
// filtered to echo replies, and a datagram socket is not asked for the errors
// (no IP_RECVERR), which the system then keeps from it.
void configure(int fd, int family, bool raw)
{
    const int ttl = EchoRequest::Ttl;
    if (family == AF_INET) {
        setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
        // Requests leave with "don't fragment": a request of 84 bytes never
        // needs fragmenting, and without a fragment id to pick the system
        // spares a shared hash per packet.
        const int noFragments = IP_PMTUDISC_PROBE;
        setsockopt(fd, IPPROTO_IP, IP_MTU_DISCOVER, &noFragments, sizeof noFragments);
        if (raw) {
            icmp_filter filter{};
            filter.data = ~(1U << EchoReplyV4);
            setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
        }
    } else {
        setsockopt(fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &ttl, sizeof ttl);
        icmp6_filter filter;
        ICMP6_FILTER_SETBLOCKALL(&filter);
        ICMP6_FILTER_SETPASS(EchoReplyV6, &filter);
        setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
    }
    // Many hosts answer within the same millisecond: leave room for them.
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &ReceiveBuffer, sizeof ReceiveBuffer) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &ReceiveBuffer, sizeof ReceiveBuffer);
}

QString describe(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

std::unique_ptr<IcmpSocket> IcmpSocket::open(int family, QString *why)
{
    const int protocol = family == AF_INET ? IPPROTO_ICMP : IPPROTO_ICMPV6;
    int fd = ::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (fd >= 0) {
        configure(fd, family, false);
        sockaddr_storage local{};
        socklen_t length = sizeof local;
        unsigned short id = 0;
        // Binding now fixes the id (the local "port") the kernel gives our requests.
        local.ss_family = static_cast<sa_family_t>(family);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&local), family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6)) == 0
            && ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) == 0)
            id = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in *>(&local)->sin_port
                                         : reinterpret_cast<sockaddr_in6 *>(&local)->sin6_port);
        return std::unique_ptr<IcmpSocket>(new IcmpSocket(fd, Kind::Datagram, family, id));
    }
    const int datagramError = errno;
    fd = ::socket(family, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (fd >= 0) {
        configure(fd, family, true);
        const auto id = static_cast<unsigned short>(QRandomGenerator::system()->bounded(1, 0x10000));
        return std::unique_ptr<IcmpSocket>(new IcmpSocket(fd, Kind::Raw, family, id));
    }
    const int rawError = errno;
    if (why) {
        *why = QStringLiteral("datagram socket: %1; raw socket: %2")
                   .arg(describe(datagramError), describe(rawError));
    }
    return nullptr;
}

namespace {
constexpr int MaxRequest = 8 + 1024;
constexpr int MaxPacket = 2048;
} // namespace

// The buffers of sendmmsg and recvmmsg.
struct IcmpSocket::Batches {
    unsigned char out[BatchSize][MaxRequest];
    sockaddr_storage outAddress[BatchSize];
    iovec outVector[BatchSize];
    mmsghdr outMessage[BatchSize];
    int outErrors[BatchSize];
    int outCount = 0;

    unsigned char in[BatchSize][MaxPacket];
    sockaddr_storage inAddress[BatchSize];
    iovec inVector[BatchSize];
    mmsghdr inMessage[BatchSize];
    int inCount = 0;
    int inNext = 0;
};

IcmpSocket::IcmpSocket(int fd, Kind kind, int family, unsigned short id)
    : fd_(fd), kind_(kind), family_(family), id_(id), batches_(std::make_unique<Batches>())
{
}

IcmpSocket::~IcmpSocket()
{
    ::close(fd_);
}

int IcmpSocket::buildRequest(unsigned char *message, unsigned short sequence, const unsigned char *data, int size) const
{
    message[0] = family_ == AF_INET ? EchoRequestV4 : EchoRequestV6;
    message[1] = 0;
    message[2] = message[3] = 0;
    message[4] = static_cast<unsigned char>(id_ >> 8);
    message[5] = static_cast<unsigned char>(id_);
    message[6] = static_cast<unsigned char>(sequence >> 8);
    message[7] = static_cast<unsigned char>(sequence);
    std::memcpy(message + 8, data, size);
    if (family_ == AF_INET && kind_ == Kind::Raw) {
        const unsigned short sum = checksum(message, 8 + size);
        message[2] = static_cast<unsigned char>(sum >> 8);
        message[3] = static_cast<unsigned char>(sum);
    }
    return 8 + size;
}

int IcmpSocket::send(const IpAddress &to, unsigned short sequence, const unsigned char *data, int size)
{
    if (to.family != family_ || size < 0 || size > MaxRequest - 8)
        return EINVAL;
    unsigned char message[MaxRequest];
    const int length = buildRequest(message, sequence, data, size);
    sockaddr_storage address;
    const socklen_t addressLength = to.toSockaddr(address);
    const ssize_t sent = ::sendto(fd_, message, length, MSG_NOSIGNAL,
                                  reinterpret_cast<sockaddr *>(&address), addressLength);
    if (sent < 0)
        return errno ? errno : EIO;
    return 0;
}

int IcmpSocket::queued() const
{
    return batches_->outCount;
}

void IcmpSocket::queue(const IpAddress &to, unsigned short sequence, const unsigned char *data, int size)
{
    Batches &b = *batches_;
    if (b.outCount >= BatchSize)
        return;
    const int i = b.outCount++;
    if (to.family != family_ || size < 0 || size > MaxRequest - 8) {
        b.outErrors[i] = EINVAL;
        b.outVector[i] = iovec{b.out[i], 0};
        b.outMessage[i] = mmsghdr{};
        return;
    }
    b.outErrors[i] = 0;
    b.outVector[i] = iovec{b.out[i], size_t(buildRequest(b.out[i], sequence, data, size))};
    b.outMessage[i] = mmsghdr{};
    b.outMessage[i].msg_hdr.msg_name = &b.outAddress[i];
    b.outMessage[i].msg_hdr.msg_namelen = to.toSockaddr(b.outAddress[i]);
    b.outMessage[i].msg_hdr.msg_iov = &b.outVector[i];
    b.outMessage[i].msg_hdr.msg_iovlen = 1;
}

const int *IcmpSocket::flush()
{
    Batches &b = *batches_;
    int i = 0;
    // Each pass sends at least one request or records the failure of one.
    while (i < b.outCount) {
        if (b.outErrors[i] != 0) {
            ++i;
            continue;
        }
        int end = i;
        while (end < b.outCount && b.outErrors[end] == 0)
            ++end;
        const int sent = ::sendmmsg(fd_, &b.outMessage[i], unsigned(end - i), MSG_NOSIGNAL);
        if (sent > 0) {
            i += sent;
        } else {
            b.outErrors[i] = sent < 0 && errno ? errno : EIO;
            ++i;
        }
    }
    b.outCount = 0;
    return b.outErrors;
}

IcmpSocket::Read IcmpSocket::receive(Reply &reply)
{
    Batches &b = *batches_;
    if (b.inNext >= b.inCount) {
        b.inNext = b.inCount = 0;
        for (int i = 0; i < BatchSize; ++i) {
            b.inVector[i] = iovec{b.in[i], MaxPacket};
            b.inMessage[i] = mmsghdr{};
            b.inMessage[i].msg_hdr.msg_name = &b.inAddress[i];
            b.inMessage[i].msg_hdr.msg_namelen = sizeof(sockaddr_storage);
            b.inMessage[i].msg_hdr.msg_iov = &b.inVector[i];
            b.inMessage[i].msg_hdr.msg_iovlen = 1;
        }
        const int got = ::recvmmsg(fd_, b.inMessage, BatchSize, MSG_DONTWAIT, nullptr);
        if (got <= 0)
            return got == 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? Read::Empty : Read::Other;
        b.inCount = got;
    }
    const int i = b.inNext++;
    // A packet longer than the buffer is no reply of ours, whatever its start says.
    if (b.inMessage[i].msg_hdr.msg_flags & MSG_TRUNC)
        return Read::Other;
    return parse(b.in[i], int(b.inMessage[i].msg_len), &b.inAddress[i], reply);
}

IcmpSocket::Read IcmpSocket::parse(const unsigned char *packet, int size, const void *from, Reply &reply) const
{
    const unsigned char *icmp = packet;
    if (family_ == AF_INET && kind_ == Kind::Raw) {
        // A raw IPv4 socket hands over the IP header too.
        if (size < 20)
            return Read::Other;
        const int headerLength = (packet[0] & 0x0f) * 4;
        if (headerLength < 20 || headerLength > size)
            return Read::Other;
        icmp += headerLength;
        size -= headerLength;
    }
    if (size < 8)
        return Read::Other;
    // Anything but an echo reply, an ICMP error included, is no reply.
    const unsigned char replyType = family_ == AF_INET ? EchoReplyV4 : EchoReplyV6;
    if (icmp[0] != replyType || icmp[1] != 0)
        return Read::Other;
    reply.from = IpAddress::fromSockaddr(static_cast<const sockaddr *>(from));
    reply.id = static_cast<unsigned short>((icmp[4] << 8) | icmp[5]);
    reply.sequence = static_cast<unsigned short>((icmp[6] << 8) | icmp[7]);
    reply.data = icmp + 8;
    reply.size = size - 8;
    return Read::Reply;
}
