#pragma once

#include <chrono>
#include <functional>
#include <optional>

// The time that probing runs by: now(), and the waits of threads that block in
// the system (poll, epoll_wait) until a deadline or an event of their own.
// Clock::system() is the machine's monotonic clock; TestClock stands still
// until a test moves it on, and wakes every waiting thread whose deadline it
// passes. Whoever keeps time through a Clock reads it only from there.
class Clock {
public:
    using time_point = std::chrono::steady_clock::time_point;
    using duration = std::chrono::steady_clock::duration;

    class Sleeper;

    virtual ~Clock() = default;
    virtual time_point now() const = 0;

    // The process's clock: the system's monotonic time.
    static Clock &system();

protected:
    friend class Sleeper;
    // How long, in milliseconds, the system call of a sleeper waiting until
    // at may block (-1: until an event), real time at most limit.
    virtual int blockMs(Sleeper &sleeper, std::optional<time_point> at, std::optional<duration> limit) = 0;
    virtual void enrol(Sleeper &) {}
    virtual void leave(Sleeper &) {}
    virtual void awake(Sleeper &) {}
    virtual void wake(Sleeper &sleeper);
};

// A thread's waits on a clock. The thread asks blockMs() for the time-out of
// its system call and calls awake() when the call returns; wake, given by the
// owner, makes a blocked call return (by writing to a descriptor it watches),
// and may be called from any thread.
class Clock::Sleeper {
public:
    Sleeper(Clock &clock, std::function<void()> wake);
    ~Sleeper();
    Sleeper(const Sleeper &) = delete;
    Sleeper &operator=(const Sleeper &) = delete;

    Clock &clock() const { return clock_; }
    // The time-out in milliseconds (-1 for none) of a system call that is to
    // wait until at (none: for events only), and no longer than limit of real
    // time (for a library with timers of its own in real time).
    int blockMs(std::optional<time_point> at, std::optional<duration> limit = std::nullopt) { return clock_.blockMs(*this, at, limit); }
    void awake() { clock_.awake(*this); }
    // From any thread: the blocked call returns, or the next one does not block.
    void wake() { clock_.wake(*this); }

private:
    friend class Clock;
    friend class TestClock;
    Clock &clock_;
    std::function<void()> wake_;
};
