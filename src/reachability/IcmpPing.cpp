#include "IcmpPing.h"

#include "AppError.h"
#include "EchoRequest.h"
#include "IcmpSocket.h"
#include "IpAddress.h"

#include <QRandomGenerator>

#include <poll.h>
#include <sys/socket.h>

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

TPing::TPing()
{
    QString why;
    fV4 = IcmpSocket::open(AF_INET, &why);
    if (!fV4)
        throw AppError(unavailableText(why));
    fSequence = static_cast<unsigned short>(QRandomGenerator::global()->generate());
}

TPing::~TPing() = default;

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
        return fV4.get();
    if (!fV6)
        fV6 = IcmpSocket::open(AF_INET6, nullptr);
    return fV6.get();
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
    const unsigned short sequence = ++fSequence;
    const Clock::time_point sent = Clock::now();
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
                aRetTime = int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count());
                return 1;
            }
            continue;
        }
        if (read == IcmpSocket::Read::Other)
            continue;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd waiting{socket->handle(), POLLIN, 0};
        ::poll(&waiting, 1, int(left) + 1);
    }
    return 0;
}
