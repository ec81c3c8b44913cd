#pragma once

#include "Clock.h"

#include <QObject>
#include <QTimer>

#include <optional>

// A timer that keeps the time of a Clock: timeout() once the clock has passed
// the deadline, and again every interval unless single-shot. On the system
// clock a QTimer does the waiting; on a TestClock the timer fires as the test
// moves the clock past its deadline. Used on its own thread (with an event
// loop), as a QTimer is.
class ClockTimer : public QObject {
    Q_OBJECT
public:
    explicit ClockTimer(Clock &clock, QObject *parent = nullptr);
    ~ClockTimer() override;

    void setSingleShot(bool singleShot) { singleShot_ = singleShot; }
    bool isSingleShot() const { return singleShot_; }
    // (Re)starts the timer: it fires interval from now.
    void start(Clock::duration interval);
    void stop();
    bool isActive() const { return deadline_.has_value(); }
    std::optional<Clock::time_point> deadline() const { return deadline_; }

signals:
    void timeout();

private:
    void arm();
    void check();

    Clock &clock_;
    Clock::Sleeper sleeper_;
    QTimer wait_;
    Clock::duration interval_{};
    std::optional<Clock::time_point> deadline_;
    bool singleShot_ = false;
};
