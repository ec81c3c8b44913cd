#pragma once

// A clock that a test sets by hand, for histories of days that are fed in
// milliseconds; nothing sleeps on it.

#include "Clock.h"

class ManualClock final : public Clock {
public:
    time_point now() const override { return now_; }
    void advance(duration d) { now_ += d; }

protected:
    int blockMs(Sleeper &, std::optional<time_point>, std::optional<duration>) override { return 0; }

private:
    time_point now_{};
};
