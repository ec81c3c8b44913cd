#pragma once

#include "Clock.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

// A clock that stands still until the test moves it on, for tests that run
// cycles of seconds in milliseconds. Moving it wakes every sleeper whose
// deadline it passes, and then lets the program settle: every sleeper back in
// its wait, and the events posted to the calling thread delivered, before time
// moves again. Time moves by at most MaxStep at once, and no more than pace()
// times as fast as real time, counted from the moment the program settled: what
// the system answers in real time within a deadline divided by the pace (a
// reply on loopback, a local name server) is taken in before that deadline.
// advance() and the waits are for the thread that owns the event loop (the
// test's main thread).
class TestClock final : public Clock {
public:
    static constexpr auto MaxStep = std::chrono::milliseconds(5);
    static constexpr double DefaultPace = 20;

    TestClock();
    ~TestClock() override;

    time_point now() const override { return time_point(duration(now_.load())); }

    // Moves time on by d, in steps, settling after each; takes at least d / pace() of real time.
    void advance(duration d);
    // Moves time on until done() holds, for at most limit; whether it holds.
    bool advanceUntil(const std::function<bool()> &done, duration limit);
    // Waits (real time, bounded) until every sleeper waits for its deadline or
    // an event, and delivers the calling thread's posted events meanwhile;
    // false when a sleeper stayed busy for seconds.
    bool settle();

    double pace() const { return pace_; }
    void setPace(double pace) { pace_ = pace > 0 ? pace : DefaultPace; }

protected:
    int blockMs(Sleeper &sleeper, std::optional<time_point> at, std::optional<duration> limit) override;
    void enrol(Sleeper &sleeper) override;
    void leave(Sleeper &sleeper) override;
    void awake(Sleeper &sleeper) override;
    void wake(Sleeper &sleeper) override;

private:
    struct Waiting {
        Sleeper *sleeper;
        bool asleep = false;
        bool pending = false; // woken before it blocked: its next wait returns at once
        std::optional<time_point> until;
    };
    Waiting *find(Sleeper &sleeper);
    bool allAsleep() const;
    static void deliverEvents();
    // Moves time to at and wakes the sleepers that were waiting for it.
    void moveTo(time_point at);

    std::atomic<duration::rep> now_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Waiting> sleepers_;
    std::uint64_t awakenings_ = 0;
    double pace_ = DefaultPace;
};
