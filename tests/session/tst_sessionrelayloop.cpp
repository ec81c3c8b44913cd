// The relays of all sessions share one thread: several relays pass bytes at
// once, one of them cut (by Cancel, by its attempt's time) leaves the others
// flowing, a name whose look-up hangs holds up no other relay and is cut by
// Cancel at once, no relay brings a thread of its own, and the one thread goes
// with the last relay.
#include "HostResolver.h"
#include "RdpRelay.h"
#include "RelayPeers.h"
#include "reachability/TestDns.h"
#include "reachability/TestNetwork.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

namespace {

// The threads of this process: all of them, and those of the relays' loop.
int Threads(const char *name = nullptr)
{
    const QStringList tasks = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (!name)
        return int(tasks.size());
    int count = 0;
    for (const QString &task : tasks) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name)
            ++count;
    }
    return count;
}

QByteArray Target(const QByteArray &host, int port)
{
    return host + ':' + QByteArray::number(port);
}

std::vector<std::unique_ptr<RdpRelay>> StartRelays(int count)
{
    std::vector<std::unique_ptr<RdpRelay>> relays;
    for (int i = 0; i < count; ++i) {
        relays.push_back(std::make_unique<RdpRelay>());
        if (!relays.back()->Start())
            return {};
    }
    return relays;
}

// Well under the resolver's own time-out and any attempt's.
constexpr int CutMs = 1000;

} // namespace

class TestSessionRelayLoop : public QObject {
    Q_OBJECT

private slots:
    // Five relays, each with a connection waiting for its server: one thread
    // serves them all, and it ends when the last relay goes.
    void relaysShareOneThread()
    {
        EchoServer silent(true);
        QVERIFY(silent.Port() > 0);
        const int before = Threads();
        QCOMPARE(Threads("rdp-relay"), 0);
        {
            std::vector<std::unique_ptr<RdpRelay>> relays = StartRelays(5);
            QCOMPARE(relays.size(), size_t(5));
            std::vector<std::unique_ptr<RelayClient>> clients;
            for (const auto &relay : relays) {
                clients.push_back(std::make_unique<RelayClient>(relay->SocketPath()));
                QVERIFY(clients.back()->Ask(Target("127.0.0.1", silent.Port())));
            }
            for (const auto &client : clients)
                QVERIFY(client->Reply(3000).startsWith("HTTP/1.1 200"));
            QTRY_COMPARE_WITH_TIMEOUT(silent.Accepted(), 5, 3000);
            QCOMPARE(Threads("rdp-relay"), 1);
            QCOMPARE(Threads(), before + 1);
            // The first relays go, the loop stays for the last.
            for (size_t i = 0; i + 1 < relays.size(); ++i)
                relays[i].reset();
            QCOMPARE(Threads("rdp-relay"), 1);
        }
        QCOMPARE(Threads("rdp-relay"), 0);
        QCOMPARE(Threads(), before);
        // And a new relay starts it again.
        RdpRelay again;
        QVERIFY(again.Start());
        QCOMPARE(Threads("rdp-relay"), 1);
        again.Stop();
        QCOMPARE(Threads("rdp-relay"), 0);
    }

    // Five sessions' relays; one is cancelled while its server keeps it waiting
    // in the middle of the handshake, one is cut by its attempt's time: the
    // others pass their bytes before, during and after.
    void oneCutOthersFlow()
    {
        EchoServer echo;
        EchoServer silent(true);
        QVERIFY(echo.Port() > 0 && silent.Port() > 0);
        std::vector<std::unique_ptr<RdpRelay>> relays = StartRelays(5);
        QCOMPARE(relays.size(), size_t(5));
        constexpr size_t Cancelled = 1, TimedOut = 3;
        relays[TimedOut]->BeginAttempt(5000, 300);
        std::vector<std::unique_ptr<RelayClient>> clients;
        for (size_t i = 0; i < relays.size(); ++i) {
            clients.push_back(std::make_unique<RelayClient>(relays[i]->SocketPath()));
            const bool waits = i == Cancelled || i == TimedOut;
            QVERIFY(clients[i]->Ask(Target("127.0.0.1", waits ? silent.Port() : echo.Port())));
            QVERIFY(clients[i]->Reply(3000).startsWith("HTTP/1.1 200"));
        }
        const auto othersFlow = [&](int bytes, unsigned pattern) {
            for (size_t i = 0; i < clients.size(); ++i)
                if (i != Cancelled && i != TimedOut && !clients[i]->Echo(bytes, 5000, pattern + unsigned(i)))
                    return false;
            return true;
        };
        QVERIFY(othersFlow(64 * 1024, 1));
        QElapsedTimer timer;
        timer.start();
        relays[Cancelled]->Cancel();
        QVERIFY(clients[Cancelled]->Closed(CutMs));
        QVERIFY2(timer.elapsed() < CutMs, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(othersFlow(4 * 1024 * 1024, 2));
        // The handshake's 300 ms are long over by now.
        QVERIFY(clients[TimedOut]->Closed(CutMs));
        QCOMPARE(relays[TimedOut]->LinkEnd(), RdpLinkEnd::Lost);
        QCOMPARE(relays[Cancelled]->LinkEnd(), RdpLinkEnd::Open);
        QVERIFY(othersFlow(256 * 1024, 3));
        for (const auto &relay : relays)
            QCOMPARE(relay->Requests(), 1);
        // The cancelled relay takes no more connections; the others do.
        RelayClient refused(relays[Cancelled]->SocketPath());
        QVERIFY(!refused.Ask(Target("127.0.0.1", echo.Port())) || refused.Reply(1000).isEmpty());
        RelayClient next(relays[0]->SocketPath());
        clients[0].reset(); // the relay serves one connection at a time
        QVERIFY(next.Ask(Target("127.0.0.1", echo.Port())));
        QVERIFY(next.Reply(3000).startsWith("HTTP/1.1 200"));
        QVERIFY(next.Echo(100 * 1000, 5000));
    }

    // A server that closes: the relay passes the end on and notes it.
    void serverEndReachesTheLibrary()
    {
        EchoServer echo;
        RdpRelay relay;
        QVERIFY(relay.Start());
        {
            RelayClient client(relay.SocketPath());
            QVERIFY(client.Ask(Target("127.0.0.1", echo.Port())));
            QVERIFY(client.Reply(3000).startsWith("HTTP/1.1 200"));
            QVERIFY(client.Echo(1000, 3000));
        }
        // The echo server closes once the library's end reached it.
        QTRY_COMPARE_WITH_TIMEOUT(relay.LinkEnd(), RdpLinkEnd::Closed, 3000);
        RelayClient refusedPort(relay.SocketPath());
        QVERIFY(refusedPort.Ask(Target("127.0.0.1", 1)));
        QCOMPARE(refusedPort.Reply(3000), QByteArray("HTTP/1.1 502 Bad Gateway\r\n\r\n"));
        QCOMPARE(relay.Failure(), RdpConnectFailure::Refused);
    }

    // Names through the program's resolver: from the hosts file, from the
    // name server, not found; and a name with a second address to fall back on.
    void namesLookedUp_data()
    {
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<QByteArray>("listenOn");
        QTest::addColumn<bool>("served");
        QTest::newRow("hosts file") << QByteArray("localhost") << QByteArray("127.0.0.1") << true;
        QTest::newRow("name server") << QByteArray("quick.test") << QByteArray("127.0.0.1") << true;
        QTest::newRow("not found") << QByteArray("nowhere.test") << QByteArray("127.0.0.1") << false;
        QTest::newRow("first address silent") << QByteArray("brennic-first-silent.test") << QByteArray("127.0.0.7") << true;
    }

    void namesLookedUp()
    {
        REQUIRE_TEST_NAMES();
        QFETCH(QByteArray, host);
        QFETCH(QByteArray, listenOn);
        QFETCH(bool, served);
        if (host == "brennic-first-silent.test")
            REQUIRE_UNREACHABLE_HOSTS();
        TestDns dns;
        if (!dns.listening())
            QSKIP("cannot serve names on the test's name server address");
        dns.answer("quick.test", "127.0.0.1", 300);
        EchoServer echo(false, listenOn.constData());
        QVERIFY(echo.Port() > 0);
        RdpRelay relay;
        QVERIFY(relay.Start());
        RelayClient client(relay.SocketPath());
        QVERIFY(client.Ask(Target(host, echo.Port())));
        const QByteArray reply = client.Reply(8000);
        QVERIFY2(reply.startsWith(served ? "HTTP/1.1 200" : "HTTP/1.1 502"), reply.constData());
        QCOMPARE(relay.Failure(), served ? RdpConnectFailure::None : RdpConnectFailure::NameNotFound);
        if (served)
            QVERIFY(client.Echo(10000, 3000));
    }

    // A name that was not found and then is: once the old answer's time is
    // up, a new connection waits for the new look-up instead of failing on it.
    void nameFoundAgain()
    {
        REQUIRE_TEST_NAMES();
        TestDns dns;
        if (!dns.listening())
            QSKIP("cannot serve names on the test's name server address");
        EchoServer echo;
        RdpRelay relay;
        QVERIFY(relay.Start());
        {
            RelayClient client(relay.SocketPath());
            QVERIFY(client.Ask(Target("later.test", echo.Port())));
            QCOMPARE(client.Reply(3000), QByteArray("HTTP/1.1 502 Bad Gateway\r\n\r\n"));
            QCOMPARE(relay.Failure(), RdpConnectFailure::NameNotFound);
        }
        dns.answer("later.test", "127.0.0.1", 300);
        QTest::qWait(int(std::chrono::duration_cast<std::chrono::milliseconds>(HostResolver::MinTtl).count()) + 200);
        RelayClient client(relay.SocketPath());
        QVERIFY(client.Ask(Target("later.test", echo.Port())));
        QVERIFY(client.Reply(3000).startsWith("HTTP/1.1 200"));
        QCOMPARE(relay.Failure(), RdpConnectFailure::None);
        QCOMPARE(dns.questions("later.test"), 2);
    }

    // A name whose server never answers: the relays beside it go on, and
    // Cancel cuts the look-up at once, long before the resolver gives up.
    void hangingNameCutByCancel()
    {
        REQUIRE_TEST_NAMES();
        TestDns dns;
        if (!dns.listening())
            QSKIP("cannot serve names on the test's name server address");
        dns.neverAnswer("hang.test");
        dns.answer("quick.test", "127.0.0.1", 300);
        EchoServer echo;
        RdpRelay hanging, quick;
        QVERIFY(hanging.Start() && quick.Start());
        hanging.BeginAttempt(20000, 20000);
        RelayClient waits(hanging.SocketPath());
        QVERIFY(waits.Ask(Target("hang.test", echo.Port())));
        QTRY_VERIFY_WITH_TIMEOUT(dns.questions("hang.test") >= 1, 3000);
        RelayClient flows(quick.SocketPath());
        QVERIFY(flows.Ask(Target("quick.test", echo.Port())));
        QVERIFY(flows.Reply(3000).startsWith("HTTP/1.1 200"));
        QVERIFY(flows.Echo(256 * 1024, 3000));
        QElapsedTimer timer;
        timer.start();
        hanging.Cancel();
        QVERIFY(waits.Closed(CutMs));
        QVERIFY2(timer.elapsed() < CutMs, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(echo.Accepted(), 1);
        QVERIFY(flows.Echo(256 * 1024, 3000, 9));
        QCOMPARE(Threads("rdp-relay"), 1);
    }

    // Cancel and new attempts from other threads while relays start, serve
    // and stop: each relay ends cut, and nothing is left behind.
    void ordersFromOtherThreads()
    {
        EchoServer echo;
        for (int round = 0; round < 10; ++round) {
            std::vector<std::unique_ptr<RdpRelay>> relays(3);
            for (auto &relay : relays)
                relay = std::make_unique<RdpRelay>();
            std::atomic<bool> go{false};
            std::vector<std::thread> others;
            for (size_t i = 0; i < relays.size(); ++i)
                others.emplace_back([&go, relay = relays[i].get(), i] {
                    while (!go) {
                        relay->BeginAttempt(5000, 5000);
                        relay->EndAttempt();
                        std::this_thread::yield();
                    }
                    if (i != 1)
                        relay->Cancel();
                });
            for (auto &relay : relays)
                QVERIFY(relay->Start());
            RelayClient client(relays[1]->SocketPath());
            QVERIFY(client.Ask(Target("127.0.0.1", echo.Port())));
            QVERIFY(client.Reply(3000).startsWith("HTTP/1.1 200"));
            go = true;
            for (auto &thread : others)
                thread.join();
            QVERIFY(client.Echo(10000, 3000, unsigned(round)));
            for (size_t i = 0; i < relays.size(); ++i) {
                const QString folder = QFileInfo(QFile::decodeName(relays[i]->SocketPath())).path();
                relays[i]->Stop();
                QVERIFY(!QFileInfo::exists(folder));
            }
            QVERIFY(client.Closed(CutMs));
        }
        QCOMPARE(Threads("rdp-relay"), 0);
    }

    // Stop from another thread while the loop serves the relay.
    void stopWhileFlowing()
    {
        EchoServer echo;
        auto relay = std::make_unique<RdpRelay>();
        QVERIFY(relay->Start());
        RelayClient client(relay->SocketPath());
        QVERIFY(client.Ask(Target("127.0.0.1", echo.Port())));
        QVERIFY(client.Reply(3000).startsWith("HTTP/1.1 200"));
        std::thread stopper([&relay] { relay->Stop(); });
        QVERIFY(client.Closed(CutMs));
        stopper.join();
        relay.reset();
        QCOMPARE(Threads("rdp-relay"), 0);
    }
};

int main(int argc, char **argv)
{
    TestNetwork::enter(); // before any thread starts
    QCoreApplication app(argc, argv);
    TestSessionRelayLoop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sessionrelayloop.moc"
