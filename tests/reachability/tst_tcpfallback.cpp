// The TCP connection probe used where no ICMP socket can be opened: real
// sockets on loopback and on hosts dropped inside the test's own namespace.
#include "PingEngine.h"
#include "PingThread.h"
#include "TestNetwork.h"
#include "TestRow.h"
#include "VirtualTime.h"

#include "IcmpSocket.h"

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace {

using namespace std::chrono_literals;

constexpr int CycleLimitMs = 9000;
const PingEngine::Timing Fast{200ms, 600ms};

// A listening TCP socket on a loopback address; closed with the object.
class Listener {
public:
    explicit Listener(int family, bool listen = true)
    {
        fd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage address{};
        socklen_t length;
        if (family == AF_INET) {
            auto *in = reinterpret_cast<sockaddr_in *>(&address);
            in->sin_family = AF_INET;
            in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof(sockaddr_in);
        } else {
            auto *in6 = reinterpret_cast<sockaddr_in6 *>(&address);
            in6->sin6_family = AF_INET6;
            in6->sin6_addr = in6addr_loopback;
            length = sizeof(sockaddr_in6);
        }
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr *>(&address), length) != 0
            || (listen && ::listen(fd_, 64) != 0)
            || ::getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        port_ = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in *>(&address)->sin_port
                                        : reinterpret_cast<sockaddr_in6 *>(&address)->sin6_port);
    }
    ~Listener()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    unsigned short port() const { return port_; }

private:
    int fd_ = -1;
    unsigned short port_ = 0;
};

} // namespace

class TstTcpFallback : public QObject {
    Q_OBJECT

private:
    // The engines' time, moved on by the tests.
    TestClock clock;
    std::unique_ptr<PingEngine> engine;
    std::unique_ptr<Listener> open4, open6, closed4;

private slots:
    void initTestCase()
    {
        REQUIRE_PRIVATE_NETWORK();
        engine = std::make_unique<PingEngine>(PingEngine::Method::TcpOnly, clock);
        open4 = std::make_unique<Listener>(AF_INET);
        open6 = std::make_unique<Listener>(AF_INET6);
        // Bound but not listening: the port is held, and a connection to it is refused.
        closed4 = std::make_unique<Listener>(AF_INET, false);
        QVERIFY(open4->port() && open6->port() && closed4->port());
    }

    void status_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("needsSilentHosts");
        QTest::addColumn<int>("iRet");
        QTest::addColumn<QString>("status");
        QTest::newRow("open port") << QStringLiteral("127.0.0.1") << QStringLiteral("open4") << false << 1 << QStringLiteral("Online");
        QTest::newRow("open port, IPv6") << QStringLiteral("::1") << QStringLiteral("open6") << false << 1 << QStringLiteral("Online");
        QTest::newRow("closed port: refused, so the host is up") << QStringLiteral("127.0.0.1") << QStringLiteral("closed4") << false << 1
                                                                 << QStringLiteral("Online");
        QTest::newRow("silent host") << QString::fromLatin1(TestNetwork::unreachableHost(7)) << QStringLiteral("open4") << true << 0
                                     << QStringLiteral("Offline");
        QTest::newRow("host unreachable (ICMP error)") << QStringLiteral("127.4.0.1") << QStringLiteral("open4") << true << 0
                                                       << QStringLiteral("Offline");
        QTest::newRow("administratively prohibited (ICMP error)") << QStringLiteral("127.4.0.2") << QStringLiteral("open4") << true << 0
                                                                  << QStringLiteral("Offline");
        QTest::newRow("no route") << QStringLiteral("10.20.30.40") << QStringLiteral("open4") << false << 0 << QStringLiteral("Offline");
        QTest::newRow("unknown name") << QStringLiteral("no-such-host.invalid") << QStringLiteral("open4") << false << -1
                                      << QStringLiteral("Offline");
    }

    void status()
    {
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(bool, needsSilentHosts);
        QFETCH(int, iRet);
        QFETCH(QString, status);
        if (needsSilentHosts)
            REQUIRE_UNREACHABLE_HOSTS();
        const unsigned short portNumber = port == QLatin1String("open4") ? open4->port()
            : port == QLatin1String("open6")                             ? open6->port()
                                                                         : closed4->port();
        TestRow row(address, portNumber);
        auto *poller = new TPingThread(true, engine.get(), this);
        poller->setTiming(Fast);
        row.bind(poller);
        QSignalSpy results(poller, &TPingThread::resultReported);
        poller->Resume();
        CLOCK_TRY_COMPARE(clock, row.status(), status, CycleLimitMs);
        QCOMPARE(poller->iRet(), iRet);
        // And again one cycle later: the attempt leaves nothing behind that changes the answer.
        const int cycles = poller->cycles();
        CLOCK_TRY_VERIFY(clock, poller->cycles() > cycles, CycleLimitMs);
        QCOMPARE(poller->iRet(), iRet);
        QCOMPARE(row.history, QStringList{status});
        // An answer carries the connection attempt's round trip (on loopback,
        // within a step of the clock); no answer, none.
        QVERIFY(results.size() >= 2);
        for (const QList<QVariant> &result : results) {
            const qint64 latencyUs = result[1].toLongLong();
            if (iRet >= 1)
                QVERIFY2(latencyUs >= 0 && latencyUs <= 20000, qPrintable(QString::number(latencyUs)));
            else
                QCOMPARE(latencyUs, qint64(-1));
        }
        poller->Terminate();
    }

    void socketFactoryDecidesTheProbe_data()
    {
        QTest::addColumn<bool>("v4");
        QTest::addColumn<bool>("v6");
        QTest::addColumn<bool>("icmp");
        QTest::newRow("no ICMP socket allowed") << false << false << false;
        QTest::newRow("only an IPv6 socket") << false << true << false;
        QTest::newRow("both sockets") << true << true << true;
    }

    void socketFactoryDecidesTheProbe()
    {
        // The engine's choice, in every run whoever runs the tests: the factory
        // stands for what the system allows.
        QFETCH(bool, v4);
        QFETCH(bool, v6);
        QFETCH(bool, icmp);
        QList<int> asked;
        const auto factory = [&asked, v4, v6](int family, QString *why) -> std::unique_ptr<IcmpSocket> {
            asked.append(family);
            if (family == AF_INET ? v4 : v6)
                return IcmpSocket::open(family, nullptr);
            if (why)
                *why = QStringLiteral("refused in the test");
            return nullptr;
        };
        PingEngine chosen(PingEngine::Method::Auto, factory, clock);
        QCOMPARE(asked, (QList<int>{AF_INET, AF_INET6}));
        if (icmp && !chosen.icmpAvailable())
            QSKIP("the system allows this user no ICMP socket");
        QSignalSpy notices(&chosen, &PingEngine::icmpUnavailable);
        QCOMPARE(chosen.icmpAvailable(), icmp);
        QCOMPARE(chosen.probeKind().startsWith(QLatin1String("ICMP")), icmp);
        if (icmp) {
            QVERIFY(chosen.notice().isEmpty());
        } else {
            QCOMPARE(chosen.probeKind(), QStringLiteral("TCP connection"));
            const QString notice = chosen.notice();
            QVERIFY2(notice.contains(QLatin1String("refused in the test")) && notice.contains(QLatin1String("ping_group_range"))
                         && notice.contains(QLatin1String("cap_net_raw")) && notice.contains(QStringLiteral("TCP")),
                     qPrintable(notice));
        }
        // Told once, and only when ICMP is not used.
        QTest::qWait(50);
        QCOMPARE(notices.count(), icmp ? 0 : 1);
        if (!icmp)
            QCOMPARE(notices.first().first().toString(), chosen.notice());

        // And the probes work either way: over TCP to a port that refuses, an
        // answering host is up; over ICMP too.
        std::vector<std::unique_ptr<TestRow>> rows;
        rows.push_back(std::make_unique<TestRow>(QStringLiteral("127.0.0.1"), closed4->port()));
        rows.push_back(std::make_unique<TestRow>(QStringLiteral("::1"), open6->port()));
        for (const auto &row : rows) {
            auto *poller = new TPingThread(true, &chosen, &chosen);
            poller->setTiming(Fast);
            row->bind(poller);
            poller->Resume();
        }
        for (const auto &row : rows)
            CLOCK_TRY_COMPARE(clock, row->status(), QStringLiteral("Online"), CycleLimitMs);
        QVERIFY(chosen.statistics().answered >= 2);
    }

    void crowdedDescriptors()
    {
        // More hosts than descriptors: every row gets its status, the process
        // can still open files, and the engine stops within a second.
        REQUIRE_UNREACHABLE_HOSTS();
        QProcess helper;
        helper.start(QStringLiteral(BRENNIC_CROWDED_PROBE), {QStringLiteral("600"), QStringLiteral("128")});
        QVERIFY(helper.waitForFinished(60000));
        const QString output = QString::fromUtf8(helper.readAllStandardOutput());
        QCOMPARE(helper.exitCode(), 0);
        QHash<QString, QString> found;
        for (const QString &line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            found.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
        QCOMPARE(found.value(QStringLiteral("limit")), QStringLiteral("128"));
        QCOMPARE(found.value(QStringLiteral("rows")), QStringLiteral("600"));
        QCOMPARE(found.value(QStringLiteral("with_status")), QStringLiteral("600"));
        QCOMPARE(found.value(QStringLiteral("wrong")), QStringLiteral("0"));
        QCOMPARE(found.value(QStringLiteral("open_failures")), QStringLiteral("0"));
        const long budget = found.value(QStringLiteral("budget")).toLong();
        QVERIFY2(budget > 0 && budget < 128, qPrintable(output));
        // The budget was used up, and attempts waited their turn.
        QVERIFY2(found.value(QStringLiteral("deferred")).toLong() > 0, qPrintable(output));
        QVERIFY2(found.value(QStringLiteral("stop_ms")).toLong() < 1000, qPrintable(output));
    }

    void answeringHostsGoFirstUnderASmallDescriptorLimit()
    {
        // Half of 50,000 hosts silent, 1,024 descriptors, the poller's own
        // cycle: the silent hosts' attempts, which hold a descriptor until
        // their time-out, keep no answering row waiting.
        REQUIRE_UNREACHABLE_HOSTS();
        const QString prlimit = QStandardPaths::findExecutable(QStringLiteral("prlimit"));
        if (prlimit.isEmpty())
            QSKIP("prlimit (util-linux) is needed to start the helper under a descriptor limit");
        QProcess helper;
        helper.start(prlimit, {QStringLiteral("--nofile=1024:1024"), QStringLiteral(BRENNIC_FAIR_PROBE), QStringLiteral("50000")});
        QVERIFY(helper.waitForFinished(60000));
        const QString output = QString::fromUtf8(helper.readAllStandardOutput());
        QCOMPARE(helper.exitCode(), 0);
        QHash<QString, QString> found;
        for (const QString &line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            found.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
        qInfo("%s", qPrintable(output.simplified()));
        QCOMPARE(found.value(QStringLiteral("limit")), QStringLiteral("1024"));
        QVERIFY2(found.value(QStringLiteral("budget")).toLong() < 1024, qPrintable(output));
        QCOMPARE(found.value(QStringLiteral("answering_with_status")), QStringLiteral("25000"));
        QCOMPARE(found.value(QStringLiteral("wrong")), QStringLiteral("0"));
        QCOMPARE(found.value(QStringLiteral("silent_online")), QStringLiteral("0"));
        // Every answering row within 2 s of its first cycle.
        QVERIFY2(found.value(QStringLiteral("latest_ms")).toLong() <= 2000, qPrintable(output));
    }

    void engineChoosesItsProbe_data()
    {
        QTest::addColumn<QString>("groupRange");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("blocking");
        // A new namespace's ping_group_range ("1 0") admits nobody to datagram
        // ICMP sockets, and the helper has no CAP_NET_RAW for a raw one.
        QTest::newRow("no ICMP socket allowed") << QStringLiteral("1 0") << QStringLiteral("TCP connection")
                                                << QStringLiteral("error ");
        QTest::newRow("datagram sockets allowed to group 0") << QStringLiteral("0 0") << QStringLiteral("ICMP datagram socket")
                                                             << QStringLiteral("1 Reply from server");
    }

    void engineChoosesItsProbe()
    {
        QFETCH(QString, groupRange);
        QFETCH(QString, kind);
        QFETCH(QString, blocking);
        REQUIRE_UNREACHABLE_HOSTS();
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("setpriv (util-linux) is needed to start the helper without CAP_NET_RAW");
        QFile range(QStringLiteral("/proc/sys/net/ipv4/ping_group_range"));
        if (!range.open(QIODevice::ReadWrite))
            QSKIP("cannot set this namespace's ping_group_range");
        const QByteArray before = range.readAll();
        range.close();
        const auto writeRange = [&range](const QByteArray &text) {
            if (range.open(QIODevice::WriteOnly)) {
                range.write(text);
                range.close();
            }
        };
        writeRange(groupRange.toLatin1());
        const auto restore = qScopeGuard([&writeRange, before] { writeRange(before); });
        const bool readable = range.open(QIODevice::ReadOnly);
        const QByteArray now = readable ? range.readAll().simplified() : QByteArray();
        range.close();
        if (now != groupRange.toLatin1())
            QSKIP("this namespace's ping_group_range does not take the value");

        QProcess helper;
        helper.start(setpriv, {
                                  QStringLiteral("--bounding-set=-net_raw"),
                                  QStringLiteral("--inh-caps=-net_raw"),
                                  QStringLiteral(BRENNIC_FALLBACK_PROBE),
                                  QString::number(open4->port()),
                                  QString::number(closed4->port()),
                                  QString::fromLatin1(TestNetwork::unreachableHost(8)),
                              });
        QVERIFY(helper.waitForFinished(30000));
        const QString output = QString::fromUtf8(helper.readAllStandardOutput());
        if (helper.exitCode() != 0 && output.isEmpty())
            QSKIP(qPrintable(QStringLiteral("could not start the helper without CAP_NET_RAW: ")
                             + QString::fromLocal8Bit(helper.readAllStandardError())));
        QCOMPARE(helper.exitCode(), 0);
        QHash<QString, QString> found;
        for (const QString &line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            found.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
        const bool icmp = kind.startsWith(QLatin1String("ICMP"));
        QCOMPARE(found.value(QStringLiteral("kind")), kind);
        QCOMPARE(found.value(QStringLiteral("icmp")), QString::number(icmp ? 1 : 0));
        QCOMPARE(found.value(QStringLiteral("open")), QStringLiteral("Online"));
        QCOMPARE(found.value(QStringLiteral("closed")), QStringLiteral("Online"));
        QCOMPARE(found.value(QStringLiteral("silent")), QStringLiteral("Offline"));
        QCOMPARE(found.value(QStringLiteral("v6")), QStringLiteral("Online"));
        QVERIFY2(found.value(QStringLiteral("tping")).startsWith(blocking), qPrintable(found.value(QStringLiteral("tping"))));
        // The user is told once, and only when ICMP is not used; the text names the cure.
        QCOMPARE(found.value(QStringLiteral("signals")), icmp ? QStringLiteral("0") : QStringLiteral("1"));
        const QString notice = found.value(QStringLiteral("notice"));
        if (icmp) {
            QVERIFY(notice.isEmpty());
        } else {
            QVERIFY2(notice.contains(QLatin1String("ping_group_range")) && notice.contains(QLatin1String("cap_net_raw"))
                         && notice.contains(QStringLiteral("TCP")),
                     qPrintable(notice));
        }
    }
};

BRENNIC_NETWORK_TEST_MAIN(TstTcpFallback)
#include "tst_tcpfallback.moc"
