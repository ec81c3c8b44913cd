// The clocks that reachability keeps time by: timers and waiting threads on a
// TestClock fire when the test moves it past their deadlines, and not before;
// on the system clock, in real time.
#include "ClockTimer.h"
#include "TestClock.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

class TstClock : public QObject {
    Q_OBJECT

private:
    static qint64 msSince(const Clock &clock, Clock::time_point since)
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(clock.now() - since).count();
    }

private slots:
    void testClockStandsStill()
    {
        TestClock clock;
        const Clock::time_point start = clock.now();
        QTest::qWait(20);
        QCOMPARE(clock.now(), start);
        clock.advance(1500ms);
        QCOMPARE(clock.now() - start, Clock::duration(1500ms));
    }

    void singleShotTimerFiresAtItsDeadline()
    {
        TestClock clock;
        ClockTimer timer(clock);
        timer.setSingleShot(true);
        std::vector<qint64> firedAt;
        const Clock::time_point start = clock.now();
        connect(&timer, &ClockTimer::timeout, this, [&] { firedAt.push_back(msSince(clock, start)); });
        timer.start(1000ms);
        clock.advance(999ms);
        QVERIFY(firedAt.empty());
        QVERIFY(timer.isActive());
        clock.advance(1ms);
        QCOMPARE(firedAt, std::vector<qint64>{1000});
        QVERIFY(!timer.isActive());
        clock.advance(5s);
        QCOMPARE(firedAt.size(), std::size_t(1));
    }

    void repeatingTimerKeepsItsCadence()
    {
        TestClock clock;
        ClockTimer timer(clock);
        std::vector<qint64> firedAt;
        const Clock::time_point start = clock.now();
        connect(&timer, &ClockTimer::timeout, this, [&] { firedAt.push_back(msSince(clock, start)); });
        timer.start(200ms);
        clock.advance(1100ms);
        QCOMPARE(firedAt, (std::vector<qint64>{200, 400, 600, 800, 1000}));
        // Stopped from its own signal, or later: no more.
        connect(&timer, &ClockTimer::timeout, &timer, &ClockTimer::stop);
        clock.advance(1s);
        QCOMPARE(firedAt.size(), std::size_t(6));
        QVERIFY(!timer.isActive());
    }

    void restartMovesTheDeadline()
    {
        TestClock clock;
        ClockTimer timer(clock);
        timer.setSingleShot(true);
        QSignalSpy fired(&timer, &ClockTimer::timeout);
        timer.start(300ms);
        clock.advance(200ms);
        timer.start(300ms);
        clock.advance(200ms);
        QCOMPARE(fired.count(), 0);
        clock.advance(100ms);
        QCOMPARE(fired.count(), 1);
    }

    void waitingThreadWakesAtItsDeadline()
    {
        // A thread that blocks in poll() until a deadline, as the probing loop does.
        TestClock clock;
        const int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        QVERIFY(wake >= 0);
        const Clock::time_point start = clock.now();
        std::atomic<qint64> wokenAt{-1};
        std::atomic<bool> quit{false};
        Clock::Sleeper *shared = nullptr;
        std::atomic<bool> ready{false};
        std::thread waiter([&] {
            Clock::Sleeper sleeper(clock, [wake] {
                const std::uint64_t one = 1;
                [[maybe_unused]] ssize_t written = ::write(wake, &one, sizeof one);
            });
            shared = &sleeper;
            ready = true;
            const Clock::time_point deadline = start + 700ms;
            for (int pass = 0; pass < 100000 && !quit; ++pass) {
                if (wokenAt < 0 && clock.now() >= deadline)
                    wokenAt = msSince(clock, start);
                pollfd event{wake, POLLIN, 0};
                ::poll(&event, 1, sleeper.blockMs(wokenAt < 0 ? std::optional(deadline) : std::nullopt));
                sleeper.awake();
                std::uint64_t drained = 0;
                [[maybe_unused]] ssize_t got = ::read(wake, &drained, sizeof drained);
            }
        });
        QTRY_VERIFY(ready.load());
        clock.advance(699ms);
        QCOMPARE(wokenAt.load(), -1);
        clock.advance(1ms);
        QCOMPARE(wokenAt.load(), 700);
        quit = true;
        shared->wake();
        waiter.join();
        ::close(wake);
    }

    void paceLeavesRealTimeToAnswer()
    {
        TestClock clock;
        QElapsedTimer real;
        real.start();
        clock.advance(1s);
        QVERIFY2(real.elapsed() >= 1000 / TestClock::DefaultPace - 1, qPrintable(QString::number(real.elapsed())));
    }

    void systemClockTimerFiresInRealTime()
    {
        ClockTimer timer(Clock::system());
        timer.setSingleShot(true);
        QSignalSpy fired(&timer, &ClockTimer::timeout);
        QElapsedTimer real;
        real.start();
        timer.start(50ms);
        QVERIFY(fired.wait(5000));
        QVERIFY2(real.elapsed() >= 49, qPrintable(QString::number(real.elapsed())));
        QCOMPARE(fired.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TstClock)
#include "tst_clock.moc"
