#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

// The largest gap between the ticks of a 20 ms timer while it runs: how long the
// event loop of the thread that made it stood still at most.
class StallMeter {
public:
    StallMeter()
    {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] { largest_ = std::max(largest_, clock_.restart()); });
        clock_.start();
        timer_.start();
    }
    qint64 largest() const { return std::max(largest_, clock_.elapsed()); }
    // Gives the largest gap so far and starts afresh.
    qint64 take()
    {
        const qint64 gap = largest();
        largest_ = 0;
        clock_.restart();
        return gap;
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 largest_ = 0;
};
