#include "IcmpPing.h"

#include "AppError.h"
#include "Clock.h"
#include "EchoRequest.h"
#include "IcmpSocket.h"
#include "IpAddress.h"

#include <QRandomGenerator>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>

TPing::TPing()
    : TPing(Clock::system())
{
}

TPing::TPing(Clock &clock)
    : clock_(clock)
{
    QString why;
    v4_ = IcmpSocket::open(AF_INET, &why);
    if (!v4_)
        throw AppError(unavailableText(why));
    sequence_ = static_cast<unsigned short>(QRandomGenerator::global()->generate());
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

TPing::~TPing()
{
    if (wake_ >= 0)
        ::close(wake_);
}

QString TPing::unavailableText(const QString &cause)
{
    return QStringLiteral("无法打开 ICMP 套接字（%1）。要使用 ICMP（ping），请由管理员执行 "
                          "sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"（写入 /etc/sysctl.d/ 可长期生效），"
                          "或给本程序加上 cap_net_raw 能力（setcap cap_net_raw+ep 程序文件）。")
        .arg(cause);
}

IcmpSocket *TPing::socketFor(int family)
{
    if (family == AF_INET)
        return v4_.get();
    if (!v6_)
        v6_ = IcmpSocket::open(AF_INET6, nullptr);
    return v6_.get();
}

int TPing::PingHost(const QByteArray &aHostStr, QString &aRev, QString &aIP, int &aRetTime)
{
    const std::optional<IpAddress> address = IpAddress::resolve(aHostStr);
    if (!address) {
        aRev = EchoRequest::hostNotFoundText();
        return -1;
    }
    // Without a reply the platform's zeroed reply record is what is reported.
    aRev = EchoRequest::noReplyText();
    aIP = QStringLiteral("0.0.0.0");
    aRetTime = 0;

    IcmpSocket *socket = socketFor(address->family);
    if (!socket)
        return 0;
    const QByteArray request = EchoRequest::data();
    const auto *requestBytes = reinterpret_cast<const unsigned char *>(request.constData());
    const unsigned short sequence = ++sequence_;
    // The wait is the clock's from before the request leaves.
    Clock::Sleeper sleeper(clock_, [this] {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(wake_, &one, sizeof one);
    });
    const Clock::time_point sent = clock_.now();
    if (socket->send(*address, sequence, requestBytes, request.size()) != 0)
        return 0;

    const Clock::time_point deadline = sent + std::chrono::milliseconds(EchoRequest::TimeoutMs);
    // Each pass either reads a packet or waits; other processes' replies on a
    // raw socket can wake us, but never past the deadline.
    for (int pass = 0; pass < 100000; ++pass) {
        IcmpSocket::Reply reply;
        const IcmpSocket::Read read = socket->receive(reply);
        if (read == IcmpSocket::Read::Reply) {
            // Whatever address it came from (a host behind address
            // translation may answer from another): the sequence number, the
            // id and the echoed data tell our reply.
            const bool ours = reply.sequence == sequence
                && (!socket->repliesNeedIdCheck() || reply.id == socket->echoId())
                && reply.size == request.size()
                && std::equal(requestBytes, requestBytes + request.size(), reply.data);
            if (ours) {
                aRev = EchoRequest::replyText();
                aIP = reply.from.toString();
                aRetTime = int(std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now() - sent).count());
                return 1;
            }
            continue;
        }
        if (read == IcmpSocket::Read::Other)
            continue;
        if (clock_.now() >= deadline)
            break;
        pollfd waiting[2] = {{socket->handle(), POLLIN, 0}, {wake_, POLLIN, 0}};
        ::poll(waiting, wake_ >= 0 ? 2 : 1, sleeper.blockMs(deadline));
        sleeper.awake();
        std::uint64_t drained = 0;
        [[maybe_unused]] ssize_t got = ::read(wake_, &drained, sizeof drained);
    }
    return 0;
}
