// IcmpSocket's batches on real ICMP sockets in the test's own network
// namespace, raw and datagram: what leaves, a batch with failing requests in
// its middle, and packets among the replies that are no replies of ours.
#include "EchoRequest.h"
#include "IcmpSocket.h"
#include "TestNetwork.h"

#include <QFile>
#include <QTest>

#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <vector>

namespace {

// Which socket IcmpSocket::open gives, chosen through the namespace's
// ping_group_range: datagram sockets are allowed to everyone or to no one.
bool allowDatagramSockets(bool allow)
{
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ping_group_range"));
    return range.open(QIODevice::WriteOnly) && range.write(allow ? "0 2147483647" : "1 0") > 0;
}

IpAddress address(const QByteArray &text)
{
    return IpAddress::parseLiteral(text).value_or(IpAddress{});
}

// Replies by sequence number, read until expected have come or a second
// passed without any; packets that are no reply are counted in *others.
std::map<unsigned short, IcmpSocket::Reply> collect(IcmpSocket &socket, std::size_t expected, int *others)
{
    std::map<unsigned short, IcmpSocket::Reply> replies;
    while (replies.size() < expected) {
        pollfd ready{socket.handle(), POLLIN, 0};
        if (::poll(&ready, 1, 1000) <= 0)
            break;
        for (int i = 0; i < 1000; ++i) {
            IcmpSocket::Reply reply;
            const IcmpSocket::Read read = socket.receive(reply);
            if (read == IcmpSocket::Read::Empty)
                break;
            if (read == IcmpSocket::Read::Other)
                ++*others;
            else
                replies[reply.sequence] = reply;
        }
    }
    return replies;
}

unsigned short checksum(const unsigned char *data, int size)
{
    unsigned long sum = 0;
    for (int i = 0; i + 1 < size; i += 2)
        sum += (unsigned(data[i]) << 8) | data[i + 1];
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<unsigned short>(~sum & 0xffff);
}

// An echo request of size bytes of data, sent by hand through the socket's
// own descriptor: its reply comes back to the socket like any other.
bool sendLargeRequest(IcmpSocket &socket, const IpAddress &to, unsigned short sequence, int size)
{
    std::vector<unsigned char> message(8 + size, 0x5a);
    message[0] = 8;
    message[1] = 0;
    message[2] = message[3] = 0;
    message[4] = static_cast<unsigned char>(socket.echoId() >> 8);
    message[5] = static_cast<unsigned char>(socket.echoId());
    message[6] = static_cast<unsigned char>(sequence >> 8);
    message[7] = static_cast<unsigned char>(sequence);
    const unsigned short sum = checksum(message.data(), int(message.size()));
    message[2] = static_cast<unsigned char>(sum >> 8);
    message[3] = static_cast<unsigned char>(sum);
    sockaddr_storage address;
    const socklen_t length = to.toSockaddr(address);
    return ::sendto(socket.handle(), message.data(), message.size(), 0, reinterpret_cast<sockaddr *>(&address), length)
        == ssize_t(message.size());
}

} // namespace

class TstIcmpSocket : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<IcmpSocket> open(bool datagram)
    {
        if (!allowDatagramSockets(datagram))
            return nullptr;
        std::unique_ptr<IcmpSocket> socket = IcmpSocket::open(AF_INET, nullptr);
        if (socket && (socket->kind() == IcmpSocket::Kind::Datagram) != datagram)
            return nullptr;
        return socket;
    }

    void addKinds()
    {
        QTest::addColumn<bool>("datagram");
        QTest::newRow("raw socket") << false;
        QTest::newRow("datagram socket") << true;
    }

    QByteArray request_ = EchoRequest::data();

private slots:
    void initTestCase()
    {
        REQUIRE_PRIVATE_NETWORK();
        if (!allowDatagramSockets(false))
            QSKIP("needs to set the namespace's ping_group_range");
    }

    void cleanupTestCase() { allowDatagramSockets(false); }

    void requestsLeaveWithoutFragmentId_data() { addKinds(); }
    void requestsLeaveWithoutFragmentId()
    {
        // Seen by a raw socket of the test's own, which gets a copy of every
        // ICMP packet that arrives on loopback, our requests included.
        QFETCH(bool, datagram);
        const int listener = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (listener < 0)
            QSKIP("needs a raw ICMP socket to watch the requests");
        const std::unique_ptr<IcmpSocket> socket = open(datagram);
        QVERIFY(socket);
        constexpr int Requests = 8;
        for (int i = 0; i < Requests; ++i)
            socket->queue(address("127.0.0.5"), static_cast<unsigned short>(700 + i), reinterpret_cast<const unsigned char *>(request_.constData()), int(request_.size()));
        const int *errors = socket->flush();
        for (int i = 0; i < Requests; ++i)
            QCOMPARE(errors[i], 0);
        int seen = 0;
        unsigned char packet[2048];
        for (int polls = 0; seen < Requests && polls < 20; ++polls) {
            pollfd ready{listener, POLLIN, 0};
            ::poll(&ready, 1, 100);
            for (ssize_t got; (got = ::recv(listener, packet, sizeof packet, 0)) > 0;) {
                const int header = (packet[0] & 0x0f) * 4;
                if (got < header + 8 || packet[header] != 8)
                    continue; // not an echo request
                const unsigned sequence = (packet[header + 6] << 8) | packet[header + 7];
                if (sequence < 700 || sequence >= 700 + Requests)
                    continue;
                const unsigned fragment = (packet[6] << 8) | packet[7];
                const unsigned id = (packet[4] << 8) | packet[5];
                QVERIFY2(fragment & IP_DF, qPrintable(QStringLiteral("request %1 may be fragmented").arg(sequence)));
                QCOMPARE(id, 0u);
                ++seen;
            }
        }
        ::close(listener);
        QCOMPARE(seen, Requests);
    }

    void batchWithFailuresInItsMiddle_data() { addKinds(); }
    void batchWithFailuresInItsMiddle()
    {
        // The system sends a batch up to the first request it refuses and
        // reports only how many left; each refused request gets its own
        // error and the rest of the batch still leaves.
        QFETCH(bool, datagram);
        const std::unique_ptr<IcmpSocket> socket = open(datagram);
        QVERIFY(socket);
        const std::map<int, int> refused{{0, ENETUNREACH}, {10, ENETUNREACH}, {11, EINVAL}, {12, ENETUNREACH}, {IcmpSocket::BatchSize - 1, ENETUNREACH}};
        for (int i = 0; i < IcmpSocket::BatchSize; ++i) {
            // The namespace has only its loopback: nothing routes to 10/8;
            // an IPv6 address has no place on an IPv4 socket.
            const auto failing = refused.find(i);
            IpAddress to = address("127.0.1." + QByteArray::number(i + 1));
            if (failing != refused.end())
                to = address(failing->second == EINVAL ? "::1" : "10.0.0.1");
            socket->queue(to, static_cast<unsigned short>(i), reinterpret_cast<const unsigned char *>(request_.constData()), int(request_.size()));
        }
        QCOMPARE(socket->queued(), IcmpSocket::BatchSize);
        const int *errors = socket->flush();
        QCOMPARE(socket->queued(), 0);
        for (int i = 0; i < IcmpSocket::BatchSize; ++i) {
            const auto failing = refused.find(i);
            QCOMPARE(errors[i], failing == refused.end() ? 0 : failing->second);
        }
        int others = 0;
        const auto replies = collect(*socket, IcmpSocket::BatchSize - refused.size(), &others);
        QCOMPARE(replies.size(), IcmpSocket::BatchSize - refused.size());
        for (const auto &[sequence, reply] : replies) {
            QVERIFY(!refused.contains(sequence));
            QCOMPARE(reply.from.toString(), QStringLiteral("127.0.1.%1").arg(sequence + 1));
        }
    }

    void packetsThatAreNoReplyAreSkipped_data() { addKinds(); }
    void packetsThatAreNoReplyAreSkipped()
    {
        // Among the replies waiting: one too long for the buffer, one echoing
        // data shorter than a request, one from another address than asked.
        // The long one is no reply; the others are, as they came; every reply
        // around them is read.
        QFETCH(bool, datagram);
        const std::unique_ptr<IcmpSocket> socket = open(datagram);
        QVERIFY(socket);
        QVERIFY(sendLargeRequest(*socket, address("127.0.0.2"), 900, 4000));
        const unsigned char shortData[4] = {1, 2, 3, 4};
        socket->queue(address("127.0.0.3"), 901, shortData, sizeof shortData);
        const bool rewritten = TestNetwork::canRewriteReplies();
        for (int i = 0; i < 70; ++i) {
            if (socket->queued() == IcmpSocket::BatchSize)
                socket->flush();
            const QByteArray to = rewritten && i == 35 ? "127.3.0.2" : "127.0.2." + QByteArray::number(i + 1);
            socket->queue(address(to), static_cast<unsigned short>(i), reinterpret_cast<const unsigned char *>(request_.constData()), int(request_.size()));
        }
        socket->flush();
        int others = 0;
        const auto replies = collect(*socket, 71, &others);
        QCOMPARE(others, 1);
        QCOMPARE(replies.size(), std::size_t(71));
        QVERIFY(!replies.contains(900));
        QCOMPARE(replies.at(901).size, 4);
        for (int i = 0; i < 70; ++i) {
            const IcmpSocket::Reply &reply = replies.at(static_cast<unsigned short>(i));
            QCOMPARE(reply.size, EchoRequest::DataSize);
            const QString from = rewritten && i == 35 ? QString::fromLatin1(TestNetwork::RewrittenReplySource) : QStringLiteral("127.0.2.%1").arg(i + 1);
            QCOMPARE(reply.from.toString(), from);
        }
    }
};

BRENNIC_NETWORK_TEST_MAIN(TstIcmpSocket)
#include "tst_icmpsocket.moc"
