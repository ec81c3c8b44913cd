#include "TestClock.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <thread>

namespace {

// How long a sleeper may stay busy before settle() gives up on it.
constexpr auto BusyLimit = std::chrono::seconds(20);

} // namespace

// An arbitrary start, far from zero, so that "now minus a while" stays valid.
TestClock::TestClock()
    : now_(std::chrono::duration_cast<duration>(std::chrono::hours(1)).count())
{
}

TestClock::~TestClock() = default;

TestClock::Waiting *TestClock::find(Sleeper &sleeper)
{
    for (Waiting &waiting : sleepers_) {
        if (waiting.sleeper == &sleeper)
            return &waiting;
    }
    return nullptr;
}

void TestClock::enrol(Sleeper &sleeper)
{
    std::lock_guard lock(mutex_);
    sleepers_.push_back(Waiting{&sleeper, false, false, std::nullopt});
}

void TestClock::leave(Sleeper &sleeper)
{
    std::lock_guard lock(mutex_);
    std::erase_if(sleepers_, [&sleeper](const Waiting &waiting) { return waiting.sleeper == &sleeper; });
    changed_.notify_all();
}

int TestClock::blockMs(Sleeper &sleeper, std::optional<time_point> at, std::optional<duration> limit)
{
    std::lock_guard lock(mutex_);
    Waiting *waiting = find(sleeper);
    if (!waiting)
        return 0;
    if (waiting->pending || (at && *at <= now())) {
        waiting->pending = false;
        return 0;
    }
    waiting->asleep = true;
    waiting->until = at;
    changed_.notify_all();
    if (!limit)
        return -1;
    return int(std::max<long long>(1, std::chrono::ceil<std::chrono::milliseconds>(*limit).count()));
}

void TestClock::awake(Sleeper &sleeper)
{
    std::lock_guard lock(mutex_);
    if (Waiting *waiting = find(sleeper)) {
        waiting->asleep = false;
        ++awakenings_;
    }
}

void TestClock::wake(Sleeper &sleeper)
{
    {
        std::lock_guard lock(mutex_);
        if (Waiting *waiting = find(sleeper)) {
            // A sleeper that is not blocked yet must not block on this wait.
            waiting->pending = !waiting->asleep;
            waiting->asleep = false;
            ++awakenings_;
        }
    }
    Clock::wake(sleeper);
}

bool TestClock::allAsleep() const
{
    return std::all_of(sleepers_.begin(), sleepers_.end(), [](const Waiting &waiting) { return waiting.asleep; });
}

bool TestClock::settle()
{
    const auto giveUp = std::chrono::steady_clock::now() + BusyLimit;
    while (std::chrono::steady_clock::now() < giveUp) {
        std::optional<std::uint64_t> before;
        {
            std::unique_lock lock(mutex_);
            // Briefly: a sleeper of this thread (a timer) wakes only through its events.
            if (changed_.wait_for(lock, std::chrono::milliseconds(1), [this] { return allAsleep(); }))
                before = awakenings_;
        }
        deliverEvents();
        std::lock_guard lock(mutex_);
        if (before && allAsleep() && awakenings_ == *before)
            return true;
    }
    return false;
}

// As an event loop would: objects let go of with deleteLater() go too.
void TestClock::deliverEvents()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

void TestClock::moveTo(time_point at)
{
    std::vector<Sleeper *> due;
    {
        std::lock_guard lock(mutex_);
        now_.store(at.time_since_epoch().count());
        for (Waiting &waiting : sleepers_) {
            if (waiting.asleep && waiting.until && *waiting.until <= at) {
                waiting.asleep = false;
                ++awakenings_;
                due.push_back(waiting.sleeper);
            }
        }
    }
    // A sleeper leaves only from its own thread, after its last wait: none of
    // these can go while they are woken.
    for (Sleeper *sleeper : due)
        Clock::wake(*sleeper);
}

void TestClock::advance(duration d)
{
    const time_point target = now() + d;
    settle();
    auto settled = std::chrono::steady_clock::now();
    while (now() < target) {
        time_point next = std::min(target, now() + std::chrono::duration_cast<duration>(MaxStep));
        {
            std::lock_guard lock(mutex_);
            for (const Waiting &waiting : sleepers_) {
                if (waiting.asleep && waiting.until && *waiting.until > now())
                    next = std::min(next, *waiting.until);
            }
        }
        // Real time to answer what the last step sent.
        const auto real = std::chrono::duration_cast<duration>((next - now()) / pace_);
        std::this_thread::sleep_until(settled + real);
        moveTo(next);
        settle();
        settled = std::chrono::steady_clock::now();
    }
}

bool TestClock::advanceUntil(const std::function<bool()> &done, duration limit)
{
    const time_point end = now() + limit;
    settle();
    while (!done()) {
        if (now() >= end)
            return false;
        advance(std::min(end - now(), std::chrono::duration_cast<duration>(MaxStep)));
    }
    return true;
}
