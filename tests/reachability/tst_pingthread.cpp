// TPingThread over a real PingEngine: ICMP on loopback and on hosts dropped
// inside the test's own network namespace, with stand-in rows.
#include "HostResolver.h"
#include "PingEngine.h"
#include "PingLoop.h"
#include "PingThread.h"
#include "ReachabilityHistory.h"
#include "TestDns.h"
#include "TestNetwork.h"
#include "TestRow.h"
#include "VirtualTime.h"

#include <QFile>
#include <QPointer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Long enough for a probe of a silent host and the wait after it.
constexpr int CycleLimitMs = 9000;

// The cycle of most tests: the behaviour is the same as with the real
// 1000 ms and 3000 ms, in a fraction of the time.
const PingEngine::Timing Fast{200ms, 600ms};

// Rewrites the test's resolver configuration (the test runs in a mount
// namespace of its own); false when it cannot.
bool writeConfig(const QByteArray &text)
{
    QFile config(QStringLiteral("/etc/resolv.conf"));
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return config.write(text) == text.size();
}

} // namespace

class TstPingThread : public QObject {
    Q_OBJECT

private:
    // The engines' time, moved on by the tests.
    TestClock clock;
    std::unique_ptr<PingEngine> engine;

    // A poller bound to row and resumed, as the list does for a new row.
    QPointer<TPingThread> startPoller(TestRow *row, const PingEngine::Timing &timing = Fast)
    {
        auto *poller = new TPingThread(true, engine.get(), this);
        poller->setTiming(timing);
        row->bind(poller);
        poller->Resume();
        return poller;
    }

    // Bounded wait until a poller has taken n more results.
    bool waitCycles(TPingThread *poller, int n)
    {
        const int target = poller->cycles() + n;
        return clock.advanceUntil([&] { return poller->cycles() >= target; }, std::chrono::milliseconds(CycleLimitMs * n));
    }

private slots:
    void initTestCase()
    {
        REQUIRE_PRIVATE_NETWORK();
        engine = std::make_unique<PingEngine>(PingEngine::Method::Auto, clock);
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
        // The system would take these for this machine, which answers: no server has them.
        QTest::newRow("unspecified address") << QStringLiteral("0.0.0.0") << false << -1 << QStringLiteral("Offline");
        QTest::newRow("unspecified address, short form") << QStringLiteral("0") << false << -1 << QStringLiteral("Offline");
        QTest::newRow("unspecified IPv6 address") << QStringLiteral("::") << false << -1 << QStringLiteral("Offline");
        QTest::newRow("name of the unspecified address") << QStringLiteral("brennic-any.test") << false << -1 << QStringLiteral("Offline");
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
        const Clock::time_point start = clock.now();
        QPointer<TPingThread> poller = startPoller(&row);
        CLOCK_TRY_COMPARE(clock, row.status(), status, CycleLimitMs);
        // The first probe leaves after the poller's wait; a silent host answers
        // only through the time-out after it.
        const auto least = iRet == 0 ? Fast.wait + Fast.timeout : Fast.wait;
        const qint64 took = clockMsSince(clock, start);
        QVERIFY2(took >= least.count() && took < least.count() + 100, qPrintable(QString::number(took)));
        QCOMPARE(poller->iRet(), iRet);
        QCOMPARE(poller->state(), TPingThread::State::Running);
        poller->Terminate();
    }

    void realCycleTimes()
    {
        REQUIRE_UNREACHABLE_HOSTS();
        // The poller's own times: a second's wait before each probe, three
        // seconds for an answer.
        TestRow answering(QStringLiteral("127.0.0.14"));
        TestRow silent(QString::fromLatin1(TestNetwork::unreachableHost(5)));
        const Clock::time_point start = clock.now();
        QPointer<TPingThread> first = startPoller(&answering, PingEngine::Timing());
        QPointer<TPingThread> second = startPoller(&silent, PingEngine::Timing());
        const auto stop = qScopeGuard([&first, &second] {
            first->Terminate();
            second->Terminate();
        });
        std::vector<qint64> resultsAt; // of the answering row
        qint64 offlineAt = -1;
        while (clockMsSince(clock, start) < CycleLimitMs && offlineAt < 0) {
            clock.advance(1ms);
            if (first->cycles() > int(resultsAt.size()))
                resultsAt.push_back(clockMsSince(clock, start));
            if (silent.status() == QLatin1String("Offline"))
                offlineAt = clockMsSince(clock, start);
        }
        QVERIFY2(offlineAt >= 4000 && offlineAt < 4100, qPrintable(QString::number(offlineAt)));
        QCOMPARE(answering.status(), QStringLiteral("Online"));
        // The first result a second after the start, then one a second after
        // another; results reach the GUI thread in batches up to FlushMs apart.
        QVERIFY(resultsAt.size() >= 3);
        QVERIFY2(resultsAt[0] >= 1000 && resultsAt[0] < 1100, qPrintable(QString::number(resultsAt[0])));
        for (std::size_t i = 1; i < resultsAt.size(); ++i)
            QVERIFY2(resultsAt[i] - resultsAt[i - 1] >= 1000 - PingLoop::FlushMs && resultsAt[i] - resultsAt[i - 1] < 1100,
                     qPrintable(QString::number(resultsAt[i] - resultsAt[i - 1])));
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
        // The row learns of every result through the signal, and of nothing else.
        QCOMPARE(row.taken, reports.count());
        poller->Terminate();
    }

    void resultsGoIntoTheHistory()
    {
        REQUIRE_UNREACHABLE_HOSTS();
        ReachabilityHistory history(clock);
        TestRow answering(QStringLiteral("127.0.0.15"));
        TestRow silent(QString::fromLatin1(TestNetwork::unreachableHost(6)));
        QPointer<TPingThread> up = startPoller(&answering);
        QPointer<TPingThread> down = startPoller(&silent);
        history.follow(up, 11);
        history.follow(down, 12);
        QSignalSpy results(up.data(), &TPingThread::resultReported);
        QSignalSpy silentResults(down.data(), &TPingThread::resultReported);
        QVERIFY(waitCycles(down, 3));
        up->Terminate();
        down->Terminate();

        // A reply carries its round trip: on loopback, within a step of the clock.
        QVERIFY(results.size() >= 3);
        for (const QList<QVariant> &result : results) {
            QCOMPARE(result[0].value<HostStatus>(), HostStatus::Online);
            const qint64 latencyUs = result[1].toLongLong();
            QVERIFY2(latencyUs >= 0 && latencyUs <= 20000, qPrintable(QString::number(latencyUs)));
        }
        for (const QList<QVariant> &result : silentResults)
            QCOMPARE(result[1].toLongLong(), qint64(-1));
        QCOMPARE(history.track(11)->lastState(), HistoryTrack::Up);
        QCOMPARE(history.track(12)->lastState(), HistoryTrack::Down);
        const qint64 now = history.nowSecond();
        QCOMPARE(history.track(11)->counts(now - 60, now).down, 0);
        QVERIFY(history.track(11)->counts(now - 60, now).up >= 1);
        QCOMPARE(history.track(12)->counts(now - 60, now).up, 0);
        QVERIFY(!std::isnan(history.summary(11, 1).latencyMs.back()));
    }

    // Pollers that share a channel report there too, naming their row, each
    // result (with its round trip) before its status; a poller paused by a
    // receiver of its own report says nothing more.
    void aSharedChannelTakesTheReportsOfMany()
    {
        PingReports channel;
        TestRow first(QStringLiteral("127.0.0.2"));
        TestRow second(QStringLiteral("127.0.0.3"));
        QPointer<TPingThread> a = startPoller(&first);
        QPointer<TPingThread> b = startPoller(&second);
        a->setReports(&channel);
        b->setReports(&channel);
        QList<PingTarget *> named;
        connect(&channel, &PingReports::statusReported, this, [&](PingTarget *target, HostStatus status) {
            QCOMPARE(status, HostStatus::Online);
            named << target;
        });
        QStringList firstReports; // "result" and "status", in the order they came
        int secondResults = 0;
        connect(&channel, &PingReports::resultReported, this, [&](PingTarget *target, HostStatus status, qint64 latencyUs) {
            QCOMPARE(status, HostStatus::Online);
            QVERIFY(latencyUs >= 0);
            if (target == &second)
                ++secondResults;
            else if (target == &first)
                firstReports << QStringLiteral("result");
        });
        connect(&channel, &PingReports::statusReported, this, [&](PingTarget *target) {
            if (target == &first)
                firstReports << QStringLiteral("status");
        });
        connect(b.data(), &TPingThread::statusReported, this, [&] { b->Suspend(); });
        QVERIFY(waitCycles(a, 3));
        QVERIFY(named.count(&first) >= 3);
        QCOMPARE(named.count(&second), 0);
        QCOMPARE(secondResults, 0);
        QVERIFY(firstReports.size() >= 6);
        for (int i = 0; i < firstReports.size(); ++i)
            QCOMPARE(firstReports.at(i), i % 2 == 0 ? QStringLiteral("result") : QStringLiteral("status"));
        a->Terminate();
        b->Terminate();
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
        clock.advance(300ms); // the last probe of an earlier test's poller may still be leaving
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
        clock.advance(Fast.wait * 3);
        QCOMPARE(engine->statistics().sent, sentBefore);
        QCOMPARE(row.writes, 0);
    }

    void pausedPollerNeitherProbesNorWrites()
    {
        TestRow row(QStringLiteral("127.0.0.5"));
        QPointer<TPingThread> poller = startPoller(&row);
        CLOCK_TRY_COMPARE(clock, row.status(), QStringLiteral("Online"), CycleLimitMs);
        poller->Suspend();
        QCOMPARE(poller->state(), TPingThread::State::Paused);
        row.clearStatus();
        const int cycles = poller->cycles();
        clock.advance(300ms); // a batch already on its way may still arrive, and is dropped
        const auto sent = engine->statistics().sent;
        clock.advance(Fast.wait + Fast.timeout);
        QCOMPARE(engine->statistics().sent, sent);
        QCOMPARE(poller->cycles(), cycles);
        QVERIFY(row.status().isEmpty());
        poller->Resume();
        QCOMPARE(poller->state(), TPingThread::State::Running);
        CLOCK_TRY_COMPARE(clock, row.status(), QStringLiteral("Online"), CycleLimitMs);
        poller->Terminate();
    }

    void resumedPollerProbesTheEditedAddress()
    {
        REQUIRE_UNREACHABLE_HOSTS();
        TestRow row(QString::fromLatin1(TestNetwork::unreachableHost(2)));
        QPointer<TPingThread> poller = startPoller(&row);
        CLOCK_TRY_COMPARE(clock, row.status(), QStringLiteral("Offline"), CycleLimitMs);
        poller->Suspend();
        row.setAddress(QStringLiteral("127.0.0.6"));
        poller->Resume();
        CLOCK_TRY_COMPARE(clock, row.status(), QStringLiteral("Online"), CycleLimitMs);
        QCOMPARE(row.history, (QStringList{QStringLiteral("Offline"), QStringLiteral("Online")}));
        poller->Terminate();
    }

    void unboundPollerPausesAtItsNextResult()
    {
        TestRow first(QStringLiteral("127.0.0.7"));
        TestRow second(QStringLiteral("127.0.0.8"));
        QPointer<TPingThread> poller = startPoller(&first);
        CLOCK_TRY_COMPARE(clock, first.status(), QStringLiteral("Online"), CycleLimitMs);
        poller->setListItem(nullptr);
        CLOCK_TRY_COMPARE(clock, poller->state(), TPingThread::State::Paused, CycleLimitMs);
        // Bound again (a group expanded anew), it goes on with the new row.
        second.bind(poller);
        poller->Resume();
        CLOCK_TRY_COMPARE(clock, second.status(), QStringLiteral("Online"), CycleLimitMs);
        QCOMPARE(first.writes, 1);
        poller->Terminate();
    }

    void rowDeletedAfterPauseOrStopIsNeverWritten_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<int>("delayMs");
        const int cycle = int((Fast.wait + Fast.timeout).count());
        QTest::newRow("answering host, paused") << QStringLiteral("127.0.0.10") << false << cycle;
        QTest::newRow("answering host, stopped") << QStringLiteral("127.0.0.11") << true << cycle;
        QTest::newRow("silent host, paused mid-probe") << QString::fromLatin1(TestNetwork::unreachableHost(3)) << false
                                                       << cycle + int(Fast.timeout.count()) / 2;
        QTest::newRow("silent host, stopped mid-probe") << QString::fromLatin1(TestNetwork::unreachableHost(4)) << true
                                                        << cycle + int(Fast.timeout.count()) / 2;
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
        clock.advance(std::chrono::milliseconds(delayMs));
        std::vector<int> cyclesAtPause;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            cyclesAtPause.push_back(pollers[i]->cycles());
            stop ? pollers[i]->Terminate() : pollers[i]->Suspend();
            rows[i].reset();
        }
        // A pause or stop reaches the engine's thread a moment later: a probe
        // leaving just then may still go out, but nothing after that.
        clock.advance(300ms);
        const auto sent = engine->statistics().sent;
        clock.advance(Fast.wait + Fast.timeout);
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
        auto own = std::make_unique<PingEngine>(PingEngine::Method::Auto, clock);
        TestRow row(QStringLiteral("127.0.0.12"));
        QPointer<TPingThread> running = new TPingThread(true, own.get());
        running->setTiming(Fast);
        row.bind(running);
        running->Resume();
        QPointer<TPingThread> paused = new TPingThread(true, own.get());
        row.bind(paused);
        paused->Resume();
        paused->Suspend();
        CLOCK_TRY_COMPARE(clock, row.status(), QStringLiteral("Online"), CycleLimitMs);
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
        poller->setTiming(Fast);
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
        clock.advanceUntil([&pollers] { return std::none_of(pollers.begin(), pollers.end(), [](const auto &p) { return p->cycles() < 2; }); },
                           15s);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const QString expected = i % 5 == 4 ? QStringLiteral("Offline") : QStringLiteral("Online");
            QVERIFY2(pollers[i]->cycles() >= 2, qPrintable(rows[i]->address()));
            QCOMPARE(rows[i]->history, QStringList{expected});
            pollers[i]->Terminate();
        }
    }

    void replyFromAnotherAddressCounts()
    {
        // A host behind address translation answers from another address.
        REQUIRE_REWRITTEN_REPLIES();
        TestRow row(QStringLiteral("127.3.0.1"));
        // Replies to the last probes of earlier tests' pollers count as stray: let them come first.
        clock.advance(Fast.wait + Fast.timeout);
        const auto strayBefore = engine->statistics().stray;
        QPointer<TPingThread> poller = startPoller(&row);
        QVERIFY(waitCycles(poller, 3));
        QCOMPARE(row.history, QStringList{QStringLiteral("Online")});
        QCOMPARE(poller->iRet(), 1);
        QCOMPARE(engine->statistics().stray, strayBefore);
        poller->Terminate();
    }

    void icmpErrorIsNoReply_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("host unreachable") << QStringLiteral("127.4.0.1");
        QTest::newRow("administratively prohibited") << QStringLiteral("127.4.0.2");
        QTest::newRow("network unreachable") << QStringLiteral("127.4.0.3");
    }

    void icmpErrorIsNoReply()
    {
        // As fping and ping read them: the probe ends by its time-out, with no reply.
        QFETCH(QString, address);
        REQUIRE_UNREACHABLE_HOSTS();
        TestRow row(address);
        const PingEngine::Statistics before = engine->statistics();
        const Clock::time_point start = clock.now();
        QPointer<TPingThread> poller = startPoller(&row);
        CLOCK_TRY_COMPARE(clock, row.status(), QStringLiteral("Offline"), CycleLimitMs);
        QVERIFY2(clockMsSince(clock, start) >= (Fast.wait + Fast.timeout).count(), qPrintable(QString::number(clockMsSince(clock, start))));
        QCOMPARE(poller->iRet(), 0);
        const PingEngine::Statistics after = engine->statistics();
        QVERIFY(after.timedOut > before.timedOut);
        QCOMPARE(after.answered, before.answered); // no other poller runs now
        poller->Terminate();
    }

    void slowNameHoldsUpNoOtherName()
    {
        REQUIRE_TEST_NAMES();
        TestDns dns;
        if (!dns.listening())
            QSKIP("cannot serve names on the test's name server address");
        std::vector<std::unique_ptr<TestRow>> slow, quick;
        for (int i = 0; i < 8; ++i) {
            const QByteArray name = "slow-" + QByteArray::number(i) + ".test";
            dns.neverAnswer(name);
            slow.push_back(std::make_unique<TestRow>(QString::fromLatin1(name)));
        }
        for (int i = 0; i < 3; ++i) {
            const QByteArray name = "quick-" + QByteArray::number(i) + ".test";
            dns.answer(name, "127.0.0." + QByteArray::number(40 + i), 300);
            quick.push_back(std::make_unique<TestRow>(QString::fromLatin1(name)));
        }
        // And names from the hosts file.
        quick.push_back(std::make_unique<TestRow>(QStringLiteral("localhost")));
        quick.push_back(std::make_unique<TestRow>(QStringLiteral("brennic-dual.test")));
        std::vector<QPointer<TPingThread>> slowPollers, quickPollers;
        const Clock::time_point start = clock.now();
        for (const auto &row : slow)
            slowPollers.push_back(startPoller(row.get()));
        for (const auto &row : quick)
            quickPollers.push_back(startPoller(row.get()));
        const auto allQuickOnline = [&quick] {
            return std::all_of(quick.begin(), quick.end(), [](const auto &row) { return row->status() == QLatin1String("Online"); });
        };
        CLOCK_TRY_VERIFY(clock, allQuickOnline(), CycleLimitMs);
        QVERIFY2(clockMsSince(clock, start) < Fast.wait.count() + 800, qPrintable(QString::number(clockMsSince(clock, start))));
        for (const auto &row : slow)
            QVERIFY(row->status().isEmpty());
        // The slow names end as not found, after the resolver's time-out,
        // while the quick rows went on at their own pace.
        CLOCK_TRY_VERIFY(clock, std::all_of(slow.begin(), slow.end(), [](const auto &row) { return row->status() == QLatin1String("Offline"); }),
                         CycleLimitMs);
        for (const auto &poller : slowPollers)
            QCOMPARE(poller->iRet(), -1);
        for (const auto &poller : quickPollers)
            QVERIFY2(poller->cycles() >= 8, qPrintable(QString::number(poller->cycles())));
        for (const auto *pollers : {&slowPollers, &quickPollers}) {
            for (const auto &poller : *pollers)
                poller->Terminate();
        }
    }

    void namesAreLookedUpWhenTheirTimeIsUp()
    {
        REQUIRE_TEST_NAMES();
        REQUIRE_UNREACHABLE_HOSTS();
        TestDns dns;
        if (!dns.listening())
            QSKIP("cannot serve names on the test's name server address");
        // A time to live shorter than the resolver keeps any answer.
        dns.answer("moving.test", "127.0.0.50", 1);
        std::vector<std::unique_ptr<TestRow>> rows;
        std::vector<QPointer<TPingThread>> pollers;
        for (int i = 0; i < 5; ++i) {
            rows.push_back(std::make_unique<TestRow>(QStringLiteral("moving.test")));
            pollers.push_back(startPoller(rows.back().get(), PingEngine::Timing{100ms, 600ms}));
        }
        CLOCK_TRY_VERIFY(clock, std::all_of(pollers.begin(), pollers.end(), [](const auto &p) { return p->cycles() >= 10; }), CycleLimitMs);
        // Five rows with the same name, ten probes each: one look-up.
        QCOMPARE(dns.questions("moving.test"), 1);
        for (const auto &row : rows)
            QCOMPARE(row->status(), QStringLiteral("Online"));
        // The server moves; the rows follow once the answer's time is up.
        dns.answer("moving.test", TestNetwork::unreachableHost(9), 300);
        CLOCK_TRY_VERIFY(clock, std::all_of(rows.begin(), rows.end(), [](const auto &row) { return row->status() == QLatin1String("Offline"); }),
                         std::chrono::duration_cast<std::chrono::milliseconds>(HostResolver::MinTtl).count() + CycleLimitMs);
        QCOMPARE(dns.questions("moving.test"), 2);
        for (const auto &poller : pollers) {
            QCOMPARE(poller->iRet(), 0);
            poller->Terminate();
        }
    }

    void newResolverConfigurationIsTakenUpWhileLookUpsRun()
    {
        // The name server in use never answers, and names started one after
        // another keep a look-up running all the time; then the configuration
        // names a server that answers.
        REQUIRE_TEST_NAMES();
        constexpr const char *SilentServer = "127.0.0.54";
        if (!writeConfig(QByteArray("nameserver ") + SilentServer + "\n"))
            QSKIP("cannot change the test's resolver configuration");
        const auto restore = qScopeGuard([] { writeConfig(QByteArray("nameserver ") + TestNetwork::TestDnsServer + "\n"); });
        TestDns silent(SilentServer);
        TestDns working;
        if (!silent.listening() || !working.listening())
            QSKIP("cannot serve names on the test's name server addresses");
        PingEngine own(PingEngine::Method::Auto, clock);
        std::vector<std::unique_ptr<TestRow>> rows;
        for (int i = 0; i < 5; ++i) {
            const QByteArray name = "busy-" + QByteArray::number(i) + ".test";
            silent.neverAnswer(name);
            working.answer(name, "127.0.0." + QByteArray::number(70 + i), 300);
            rows.push_back(std::make_unique<TestRow>(QString::fromLatin1(name)));
            auto *poller = new TPingThread(true, &own, &own);
            poller->setTiming(Fast);
            rows.back()->bind(poller);
            poller->Resume();
            clock.advance(700ms);
        }
        clock.advance(2s);
        for (int i = 0; i < 5; ++i)
            QVERIFY(silent.questions("busy-" + QByteArray::number(i) + ".test") >= 1);
        QVERIFY(std::none_of(rows.begin(), rows.end(), [](const auto &row) { return row->status() == QLatin1String("Online"); }));

        QVERIFY(writeConfig(QByteArray("nameserver ") + TestNetwork::TestDnsServer + "\n"));
        const Clock::time_point changed = clock.now();
        const auto allOnline = [&rows] {
            return std::all_of(rows.begin(), rows.end(), [](const auto &row) { return row->status() == QLatin1String("Online"); });
        };
        CLOCK_TRY_VERIFY(clock, allOnline(), 5000);
        QVERIFY2(clockMsSince(clock, changed) <= 5000, qPrintable(QString::number(clockMsSince(clock, changed))));
    }

    void newResolverConfigurationIsTakenUp()
    {
        // As on a laptop that joins another network: the name server changes.
        REQUIRE_TEST_NAMES();
        if (!writeConfig("nameserver 127.0.0.54\n"))
            QSKIP("cannot change the test's resolver configuration");
        const auto restore = qScopeGuard([] { writeConfig(QByteArray("nameserver ") + TestNetwork::TestDnsServer + "\n"); });
        TestDns dns;
        if (!dns.listening())
            QSKIP("cannot serve names on the test's name server address");
        dns.answer("elsewhere.test", "127.0.0.60", 300);
        PingEngine own(PingEngine::Method::Auto, clock);
        TestRow row(QStringLiteral("elsewhere.test"));
        auto *poller = new TPingThread(true, &own, &own);
        poller->setTiming(Fast);
        row.bind(poller);
        poller->Resume();
        // Nobody answers at the old server's address.
        CLOCK_TRY_COMPARE(clock, row.status(), QStringLiteral("Offline"), CycleLimitMs);
        QCOMPARE(poller->iRet(), -1);
        QVERIFY(writeConfig(QByteArray("nameserver ") + TestNetwork::TestDnsServer + "\n"));
        CLOCK_TRY_COMPARE(clock, row.status(), QStringLiteral("Online"), 2 * CycleLimitMs);
        QCOMPARE(dns.questions("elsewhere.test"), 1);
    }
};

BRENNIC_NETWORK_TEST_MAIN(TstPingThread)
#include "tst_pingthread.moc"
