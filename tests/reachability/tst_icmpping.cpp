// TPing, the blocking echo probe, on real ICMP sockets in the test's own
// network namespace.
#include "AppError.h"
#include "IcmpPing.h"
#include "TestNetwork.h"
#include "VirtualTime.h"

#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

class TstIcmpPing : public QObject {
    Q_OBJECT

private:
    // The probe's three seconds pass in the time of this clock.
    TestClock clock;
    std::unique_ptr<TPing> ping;

    // PingHost of probe on a thread of its own, while this one moves the clock on.
    int pingHost(TPing &probe, const QByteArray &host, QString &rev, QString &ip, int &retTime)
    {
        std::atomic<bool> done{false};
        int result = -2;
        std::thread caller([&] {
            result = probe.PingHost(host, rev, ip, retTime);
            done.store(true);
        });
        clock.advanceUntil([&done] { return done.load(); }, std::chrono::seconds(10));
        caller.join();
        return result;
    }
    int pingHost(const QByteArray &host, QString &rev, QString &ip, int &retTime) { return pingHost(*ping, host, rev, ip, retTime); }

private slots:
    void initTestCase()
    {
        REQUIRE_PRIVATE_NETWORK();
        try {
            ping = std::make_unique<TPing>(clock);
        } catch (const AppError &error) {
            QSKIP(qPrintable(QStringLiteral("no ICMP socket for this user: ") + error.message()));
        }
    }

    void answeringHost_data()
    {
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<QString>("replyFrom");
        QTest::newRow("dotted loopback") << QByteArray("127.0.0.1") << QStringLiteral("127.0.0.1");
        QTest::newRow("another loopback address") << QByteArray("127.0.0.9") << QStringLiteral("127.0.0.9");
        QTest::newRow("short dotted form") << QByteArray("127.1") << QStringLiteral("127.0.0.1");
        QTest::newRow("name with an IPv4 address") << QByteArray("localhost") << QStringLiteral("127.0.0.1");
        QTest::newRow("IPv6 loopback") << QByteArray("::1") << QStringLiteral("::1");
        QTest::newRow("IPv6 in brackets") << QByteArray("[::1]") << QStringLiteral("::1");
    }

    void answeringHost()
    {
        QFETCH(QByteArray, host);
        QFETCH(QString, replyFrom);
        QString rev = QStringLiteral("untouched");
        QString ip;
        int retTime = -5;
        QCOMPARE(pingHost(host, rev, ip, retTime), 1);
        QCOMPARE(rev, QStringLiteral("Reply from server"));
        QCOMPARE(ip, replyFrom);
        QVERIFY(retTime >= 0);
        QVERIFY(retTime < 3000);
    }

    void nameResolution_data()
    {
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("replyFrom");
        QTest::newRow("name with only an IPv6 address") << QByteArray("brennic-v6only.test") << 1 << QStringLiteral("::1");
        QTest::newRow("IPv4 preferred to an earlier IPv6 address") << QByteArray("brennic-dual.test") << 1
                                                                   << QStringLiteral("127.0.0.8");
        // Only the first address is probed: the silent one, though the second would answer.
        QTest::newRow("only the first IPv4 address") << QByteArray("brennic-first-silent.test") << 0
                                                     << QStringLiteral("0.0.0.0");
    }

    void nameResolution()
    {
        QFETCH(QByteArray, host);
        QFETCH(int, result);
        QFETCH(QString, replyFrom);
        REQUIRE_TEST_NAMES();
        if (result == 0)
            REQUIRE_UNREACHABLE_HOSTS();
        QString rev, ip;
        int retTime = -1;
        QCOMPARE(pingHost(host, rev, ip, retTime), result);
        QCOMPARE(ip, replyFrom);
        QCOMPARE(rev, result ? QStringLiteral("Reply from server") : QStringLiteral("服务器连接中断"));
    }

    void hostNotFound_data()
    {
        QTest::addColumn<QByteArray>("host");
        QTest::newRow("all-ones address") << QByteArray("255.255.255.255");
        QTest::newRow("unspecified address") << QByteArray("0.0.0.0");
        QTest::newRow("unspecified address, hexadecimal") << QByteArray("0x0");
        QTest::newRow("unspecified IPv6 address") << QByteArray("[::]");
        QTest::newRow("name of the unspecified address") << QByteArray("brennic-any.test");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("unknown name") << QByteArray("no-such-host.invalid");
        QTest::newRow("unknown single label") << QByteArray("brennic-no-such-server");
    }

    void hostNotFound()
    {
        QFETCH(QByteArray, host);
        if (host.endsWith(".test"))
            REQUIRE_TEST_NAMES();
        QString rev;
        QString ip = QStringLiteral("10.9.8.7");
        int retTime = 4321;
        QCOMPARE(pingHost(host, rev, ip, retTime), -1);
        QCOMPARE(rev, QStringLiteral("找不到主机"));
        QCOMPARE(ip, QStringLiteral("10.9.8.7"));
        QCOMPARE(retTime, 4321);
    }

    void silentHost()
    {
        REQUIRE_UNREACHABLE_HOSTS();
        QString rev;
        QString ip = QStringLiteral("untouched");
        int retTime = 99;
        const Clock::time_point start = clock.now();
        QCOMPARE(pingHost(TestNetwork::unreachableHost(4), rev, ip, retTime), 0);
        QVERIFY2(clockMsSince(clock, start) >= 3000, qPrintable(QString::number(clockMsSince(clock, start))));
        QCOMPARE(rev, QStringLiteral("服务器连接中断"));
        QCOMPARE(ip, QStringLiteral("0.0.0.0"));
        QCOMPARE(retTime, 0);
    }

    void replyFromAnotherAddressCounts()
    {
        // A host behind address translation answers from another address:
        // the reply counts, and aIP names the address that replied.
        REQUIRE_REWRITTEN_REPLIES();
        QString rev, ip;
        int retTime = -1;
        QCOMPARE(pingHost("127.3.0.2", rev, ip, retTime), 1);
        QCOMPARE(rev, QStringLiteral("Reply from server"));
        QCOMPARE(ip, QString::fromLatin1(TestNetwork::RewrittenReplySource));
    }

    void icmpErrorIsNoReply()
    {
        // The error comes back at once, yet the probe waits for its time-out
        // and reports no reply, as fping and ping read it.
        REQUIRE_UNREACHABLE_HOSTS();
        QString rev, ip;
        int retTime = -1;
        const Clock::time_point start = clock.now();
        QCOMPARE(pingHost("127.4.0.1", rev, ip, retTime), 0);
        QVERIFY2(clockMsSince(clock, start) >= 3000, qPrintable(QString::number(clockMsSince(clock, start))));
        QCOMPARE(rev, QStringLiteral("服务器连接中断"));
    }

    void repliesStayWithTheirProbe()
    {
        // Two probes in one thread, alternating between hosts: each reply must
        // name the host that was asked, never the other's late answer.
        TPing other(clock);
        for (int i = 0; i < 10; ++i) {
            QString rev, ip;
            int retTime = 0;
            TPing &probe = i % 2 ? *ping : other;
            const QByteArray host = "127.0.0." + QByteArray::number(20 + i);
            QCOMPARE(pingHost(probe, host, rev, ip, retTime), 1);
            QCOMPARE(ip, QString::fromLatin1(host));
        }
    }
};

BRENNIC_NETWORK_TEST_MAIN(TstIcmpPing)
#include "tst_icmpping.moc"
