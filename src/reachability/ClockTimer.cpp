#include "ClockTimer.h"

#include <algorithm>

ClockTimer::ClockTimer(Clock &clock, QObject *parent)
    : QObject(parent), clock_(clock),
      sleeper_(clock, [this] { QMetaObject::invokeMethod(this, &ClockTimer::check, Qt::QueuedConnection); })
{
    wait_.setSingleShot(true);
    wait_.setTimerType(Qt::PreciseTimer);
    connect(&wait_, &QTimer::timeout, this, &ClockTimer::check);
    arm();
}

ClockTimer::~ClockTimer() = default;

void ClockTimer::start(Clock::duration interval)
{
    interval_ = std::max(interval, Clock::duration::zero());
    deadline_ = clock_.now() + interval_;
    arm();
}

void ClockTimer::stop()
{
    deadline_.reset();
    arm();
}

// Waits for the deadline: by a QTimer where the clock gives a time-out,
// otherwise until the clock wakes the sleeper.
void ClockTimer::arm()
{
    const int ms = sleeper_.blockMs(deadline_);
    if (ms < 0) {
        wait_.stop();
        return;
    }
    wait_.start(ms);
}

void ClockTimer::check()
{
    sleeper_.awake();
    if (!deadline_ || clock_.now() < *deadline_) {
        arm();
        return;
    }
    if (singleShot_) {
        deadline_.reset();
    } else {
        // The next deadline keeps the cadence; intervals the clock has already
        // passed are skipped, as by QTimer.
        const Clock::time_point next = *deadline_ + interval_;
        deadline_ = next > clock_.now() ? next : clock_.now() + interval_;
    }
    arm();
    emit timeout();
}
