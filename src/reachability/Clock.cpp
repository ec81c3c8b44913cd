#include "Clock.h"

#include <algorithm>

namespace {

class SystemClock final : public Clock {
public:
    time_point now() const override { return std::chrono::steady_clock::now(); }

protected:
    int blockMs(Sleeper &, std::optional<time_point> at, std::optional<duration> limit) override
    {
        std::optional<duration> left = limit;
        if (at)
            left = std::min(left.value_or(duration::max()), *at - now());
        if (!left)
            return -1;
        if (*left <= duration::zero())
            return 0;
        // Rounded up: a wait that ends early would only come back for the rest.
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*left).count();
        return int(std::min<long long>(ms, 24LL * 3600 * 1000));
    }
};

} // namespace

Clock &Clock::system()
{
    static SystemClock clock;
    return clock;
}

void Clock::wake(Sleeper &sleeper)
{
    if (sleeper.wake_)
        sleeper.wake_();
}

Clock::Sleeper::Sleeper(Clock &clock, std::function<void()> wake)
    : clock_(clock), wake_(std::move(wake))
{
    clock_.enrol(*this);
}

Clock::Sleeper::~Sleeper()
{
    clock_.leave(*this);
}
