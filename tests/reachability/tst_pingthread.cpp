// TPingThread over a real PingEngine: ICMP on loopback and on hosts dropped
// inside the test's own network namespace, with stand-in rows.
#include "PingEngine.h"
#include "PingThread.h"
#include "TestNetwork.h"
#include "TestRow.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// Long enough for a probe of a silent host and the wait after it.
constexpr int CycleLimitMs = 9000;

} // namespace

class TstPingThread : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<PingEngine> engine;

    // A poller bound to row and resumed, as the list does for a new row.
    QPointer<TPingThread> startPoller(TestRow *row)
    {
        auto *poller = new TPingThread(true, engine.get(), this);
        row->bind(poller);
        poller->Resume();
        return poller;
    }

    // Bounded wait until a poller has taken n more results.
    bool waitCycles(TPingThread *poller, int n)
    {
        const int target = poller->cycles() + n;
        QElapsedTimer clock;
        clock.start();
        while (poller->cycles() < target && clock.elapsed() < CycleLimitMs * n)
            QTest::qWait(20);
        return poller->cycles() >= target;
    }

private slots:
    void initTestCase()
    {
        REQUIRE_PRIVATE_NETWORK();
        engine = std::make_unique<PingEngine>();
        if (!engine->icmpAvailable())
            QSKIP(qPrintable(QStringLiteral("no ICMP socket for this user: ") + engine->notice()));
    }

    void status_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("needsSilentHosts");
        QTest::addColumn<int>("iRet");
        QTest::addColumn<QString>("status");
        QTest::newRow("loopback") << QStringLiteral("127.0.0.1") << false << 1 << QStringLiteral("Online");
        QTest::newRow("IPv6 loopback") << QStringLiteral("::1") << false << 1 << QStringLiteral("Online");
        QTest::newRow("name") << QStringLiteral("localhost") << false << 1 << QStringLiteral("Online");
        QTest::newRow("name with only an IPv6 address") << QStringLiteral("brennic-v6only.test") << false << 1
                                                        << QStringLiteral("Online");
        QTest::newRow("name whose first address is silent") << QStringLiteral("brennic-first-silent.test") << true << 0
                                                            << QStringLiteral("Offline");
        QTest::newRow("name in Chinese") << QStringLiteral("服务器.test") << false << 1 << QStringLiteral("Online");
        QTest::newRow("unknown name") << QStringLiteral("no-such-host.invalid") << false << -1 << QStringLiteral("Offline");
        QTest::newRow("all-ones address") << QStringLiteral("255.255.255.255") << false << -1 << QStringLiteral("Offline");
        QTest::newRow("silent host") << QString::fromLatin1(TestNetwork::unreachableHost(1)) << true << 0
                                     << QStringLiteral("Offline");
    }

    void status()
    {
        QFETCH(QString, address);
        QFETCH(bool, needsSilentHosts);
        QFETCH(int, iRet);
        QFETCH(QString, status);
        if (needsSilentHosts)
            REQUIRE_UNREACHABLE_HOSTS();
        if (address.endsWith(QLatin1String(".test")))
            REQUIRE_TEST_NAMES();
        TestRow row(address);
        QElapsedTimer clock;
        clock.start();
        QPointer<TPingThread> poller = startPoller(&row);
        QTRY_COMPARE_WITH_TIMEOUT(row.status(), status, CycleLimitMs);
        // The first probe leaves after the poller's wait of one second; a silent
        // host answers only through the time-out after it.
        QVERIFY2(clock.elapsed() >= (iRet == 0 ? 3900 : 950), qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(poller->iRet(), iRet);
        QCOMPARE(poller->state(), TPingThread::State::Running);
        poller->Terminate();
    }

    void everyResultIsReported()
    {
        TestRow row(QStringLiteral("127.0.0.2"));
        QPointer<TPingThread> poller = startPoller(&row);
        QSignalSpy reports(poller.data(), &TPingThread::statusReported);
        QVERIFY(waitCycles(poller, 3));
        QVERIFY(reports.count() >= 3);
        for (const QList<QVariant> &report : reports)
            QCOMPARE(report.at(0).value<HostStatus>(), HostStatus::Online);
        QCOMPARE(row.history, QStringList{QStringLiteral("Online")});
        poller->Terminate();
    }

    void resumeEndsAnUnboundOrStoppedPoller_data()
    {
        QTest::addColumn<bool>("createSuspended");
        QTest::addColumn<bool>("bound");
        QTest::addColumn<QString>("before");
        QTest::newRow("made, resumed unbound") << true << false << QString();
        QTest::newRow("made running, unbound") << false << false << QString();
        QTest::newRow("made, told to stop") << true << true << QStringLiteral("terminate");
        QTest::newRow("paused, told to stop") << true << true << QStringLiteral("suspend+terminate");
        QTest::newRow("paused, unbound, resumed") << true << true << QStringLiteral("suspend+unbind+resume");
    }

    void resumeEndsAnUnboundOrStoppedPoller()
    {
        QFETCH(bool, createSuspended);
        QFETCH(bool, bound);
        QFETCH(QString, before);
        TestRow row(QStringLiteral("127.0.0.4"));
        QTest::qWait(300);   // the last probe of an earlier test's poller may still be leaving
        const auto sentBefore = engine->statistics().sent;
        QPointer<TPingThread> poller = new TPingThread(createSuspended, engine.get(), this);
        QSignalSpy destroyed(poller.data(), &QObject::destroyed);
        if (bound)
            row.bind(poller);
        if (before == QLatin1String("terminate")) {
            poller->Terminate();
        } else if (before.startsWith(QLatin1String("suspend"))) {
            poller->Resume();
            QCOMPARE(poller->state(), TPingThread::State::Running);
            poller->Suspend();
            QCOMPARE(poller->state(), TPingThread::State::Paused);
            if (before.contains(QLatin1String("terminate")))
                poller->Terminate();
            if (before.contains(QLatin1String("unbind"))) {
                poller->setListItem(nullptr);
                poller->Resume();
            }
        } else if (createSuspended) {
            poller->Resume();
        }
        QVERIFY(destroyed.wait(2000) || destroyed.count() == 1);
        QVERIFY(poller.isNull());
        QTest::qWait(1300);
        QCOMPARE(engine->statistics().sent, sentBefore);
        QCOMPARE(row.writes, 0);
    }

    void pausedPollerNeitherProbesNorWrites()
    {
        TestRow row(QStringLiteral("127.0.0.5"));
        QPointer<TPingThread> poller = startPoller(&row);
        QTRY_COMPARE_WITH_TIMEOUT(row.status(), QStringLiteral("Online"), CycleLimitMs);
        poller->Suspend();
        QCOMPARE(poller->state(), TPingThread::State::Paused);
        row.clearStatus();
        const int cycles = poller->cycles();
        QTest::qWait(300);   // a batch already on its way may still arrive, and is dropped
        const auto sent = engine->statistics().sent;
        QTest::qWait(2500);
        QCOMPARE(engine->statistics().sent, sent);
        QCOMPARE(poller->cycles(), cycles);
        QVERIFY(row.status().isEmpty());
        poller->Resume();
        QCOMPARE(poller->state(), TPingThread::State::Running);
        QTRY_COMPARE_WITH_TIMEOUT(row.status(), QStringLiteral("Online"), CycleLimitMs);
        poller->Terminate();
    }

    void resumedPollerProbesTheEditedAddress()
    {
        REQUIRE_UNREACHABLE_HOSTS();
        TestRow row(QString::fromLatin1(TestNetwork::unreachableHost(2)));
        QPointer<TPingThread> poller = startPoller(&row);
        QTRY_COMPARE_WITH_TIMEOUT(row.status(), QStringLiteral("Offline"), CycleLimitMs);
        poller->Suspend();
        row.setAddress(QStringLiteral("127.0.0.6"));
        poller->Resume();
        QTRY_COMPARE_WITH_TIMEOUT(row.status(), QStringLiteral("Online"), CycleLimitMs);
        QCOMPARE(row.history, (QStringList{QStringLiteral("Offline"), QStringLiteral("Online")}));
        poller->Terminate();
    }

    void unboundPollerPausesAtItsNextResult()
    {
        TestRow first(QStringLiteral("127.0.0.7"));
        TestRow second(QStringLiteral("127.0.0.8"));
        QPointer<TPingThread> poller = startPoller(&first);
        QTRY_COMPARE_WITH_TIMEOUT(first.status(), QStringLiteral("Online"), CycleLimitMs);
        poller->setListItem(nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(poller->state(), TPingThread::State::Paused, CycleLimitMs);
        // Bound again (a group expanded anew), it goes on with the new row.
        second.bind(poller);
        poller->Resume();
        QTRY_COMPARE_WITH_TIMEOUT(second.status(), QStringLiteral("Online"), CycleLimitMs);
        QCOMPARE(first.writes, 1);
        poller->Terminate();
    }

    void rowDeletedAfterPauseOrStopIsNeverWritten_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<int>("delayMs");
        QTest::newRow("answering host, paused") << QStringLiteral("127.0.0.10") << false << 1000;
        QTest::newRow("answering host, stopped") << QStringLiteral("127.0.0.11") << true << 1000;
        QTest::newRow("silent host, paused mid-probe") << QString::fromLatin1(TestNetwork::unreachableHost(3)) << false << 2500;
        QTest::newRow("silent host, stopped mid-probe") << QString::fromLatin1(TestNetwork::unreachableHost(4)) << true << 2500;
    }

    void rowDeletedAfterPauseOrStopIsNeverWritten()
    {
        // Under AddressSanitizer a write into the deleted row is a use after free.
        QFETCH(QString, address);
        QFETCH(bool, stop);
        QFETCH(int, delayMs);
        if (address.startsWith(QLatin1String("127.1.")))
            REQUIRE_UNREACHABLE_HOSTS();
        // Many rows at once, so that some results are on their way at the moment of the pause.
        std::vector<std::unique_ptr<TestRow>> rows;
        std::vector<QPointer<TPingThread>> pollers;
        for (int i = 0; i < 50; ++i) {
            rows.push_back(std::make_unique<TestRow>(address));
            pollers.push_back(startPoller(rows.back().get()));
        }
        QTest::qWait(delayMs);
        std::vector<int> cyclesAtPause;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            cyclesAtPause.push_back(pollers[i]->cycles());
            stop ? pollers[i]->Terminate() : pollers[i]->Suspend();
            rows[i].reset();
        }
        // A pause or stop reaches the engine's thread a moment later: a probe
        // leaving just then may still go out, but nothing after that.
        QTest::qWait(300);
        const auto sent = engine->statistics().sent;
        QTest::qWait(3000);
        QCOMPARE(engine->statistics().sent, sent);
        for (std::size_t i = 0; i < pollers.size(); ++i) {
            if (stop) {
                QVERIFY(pollers[i].isNull());
            } else {
                // Results that were on their way at the pause are dropped unread.
                QCOMPARE(pollers[i]->state(), TPingThread::State::Paused);
                QCOMPARE(pollers[i]->cycles(), cyclesAtPause[i]);
                pollers[i]->Terminate();
            }
        }
    }

    void pollersWithoutOwnerEndWithTheirEngine()
    {
        auto own = std::make_unique<PingEngine>();
        TestRow row(QStringLiteral("127.0.0.12"));
        QPointer<TPingThread> running = new TPingThread(true, own.get());
        row.bind(running);
        running->Resume();
        QPointer<TPingThread> paused = new TPingThread(true, own.get());
        row.bind(paused);
        paused->Resume();
        paused->Suspend();
        QTRY_COMPARE_WITH_TIMEOUT(row.status(), QStringLiteral("Online"), CycleLimitMs);
        QCOMPARE(running->parent(), own.get());
        own.reset();
        QVERIFY(running.isNull());
        QVERIFY(paused.isNull());
    }

    void sharedEngineIsTheDefault()
    {
        PingEngine *shared = PingEngine::shared();
        QCOMPARE(PingEngine::shared(), shared);
        QCOMPARE(shared->parent(), QCoreApplication::instance());
        TestRow row(QStringLiteral("127.0.0.13"));
        QPointer<TPingThread> poller = new TPingThread(true);
        QCOMPARE(poller->parent(), shared);
        row.bind(poller);
        poller->Resume();
        QTRY_COMPARE_WITH_TIMEOUT(row.status(), QStringLiteral("Online"), CycleLimitMs);
        poller->Terminate();
        QTRY_VERIFY(poller.isNull());
    }

    void manyRowsEachGetTheirOwnAnswer()
    {
        REQUIRE_UNREACHABLE_HOSTS();
        // Every fifth row names a silent host; no reply may land on the wrong row,
        // and no answering row may lose a reply.
        std::vector<std::unique_ptr<TestRow>> rows;
        std::vector<QPointer<TPingThread>> pollers;
        for (int i = 0; i < 300; ++i) {
            const bool silent = i % 5 == 4;
            const QByteArray host = silent ? TestNetwork::unreachableHost(100 + i)
                                           : "127.0." + QByteArray::number(i / 200 + 1) + '.' + QByteArray::number(i % 200 + 1);
            rows.push_back(std::make_unique<TestRow>(QString::fromLatin1(host)));
            pollers.push_back(startPoller(rows.back().get()));
        }
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 15000 && std::any_of(pollers.begin(), pollers.end(), [](const auto &p) { return p->cycles() < 2; }))
            QTest::qWait(50);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const QString expected = i % 5 == 4 ? QStringLiteral("Offline") : QStringLiteral("Online");
            QVERIFY2(pollers[i]->cycles() >= 2, qPrintable(rows[i]->address()));
            QCOMPARE(rows[i]->history, QStringList{expected});
            pollers[i]->Terminate();
        }
    }
};

BRENNIC_NETWORK_TEST_MAIN(TstPingThread)
#include "tst_pingthread.moc"
