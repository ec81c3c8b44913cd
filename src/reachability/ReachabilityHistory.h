#pragma once

#include "HistoryTrack.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QObject>

#include <memory>
#include <optional>
#include <vector>

class Clock;
class TPingThread;

// Each server's probe results of the last 24 hours, by server id, fed with
// every result of its poller: what the list shows in a row's tooltip (when the
// server last went up or down, how available it was over the last hour and
// day) and a latency sparkline. Time comes from a Clock, turned into the wall
// clock's time once, when the history is made, so that what is saved and read
// back at the next start lines up; seconds without a result (the program not
// running, a paused poller) count as unknown, never as down.
// Lives on the GUI thread; about 1.3 kB a server.
class ReachabilityHistory : public QObject {
    Q_OBJECT
public:
    static constexpr int HourSeconds = 3600;
    static constexpr int DaySeconds = 24 * 3600;
    static constexpr int MaxSeries = 70; // minutes of latency a sparkline may ask for

    struct Summary {
        std::optional<QDateTime> lastChange;    // local time
        std::optional<double> availabilityHour; // 0..1; none without a result in the window
        std::optional<double> availabilityDay;
        qint64 changesHour = 0;
        std::vector<double> latencyMs; // per minute, oldest first; NaN where none
    };

    // wallNowMs: the wall clock (ms since the epoch) at clock's present time;
    // by default the system's.
    explicit ReachabilityHistory(Clock &clock, QObject *parent = nullptr);
    ReachabilityHistory(Clock &clock, qint64 wallNowMs, QObject *parent = nullptr);
    ~ReachabilityHistory() override;

    // The wall clock's second now, by the history's clock.
    qint64 nowSecond() const;

    // Takes every result that poller reports as server id's, for as long as
    // both exist.
    void follow(TPingThread *poller, int id);

    bool contains(int id) const { return index_.contains(id); }
    int size() const { return int(tracks_.size()); }
    // Forgets a server that left the catalogue; or every server but those of
    // the catalogue (after reading back a file written before servers went).
    void forget(int id);
    void keepOnly(const QSet<int> &ids);

    // The server's last-change time, availability over the last hour and day,
    // changes within the hour, and its latency of the last sparkMinutes minutes.
    Summary summary(int id, int sparkMinutes = 30) const;
    const HistoryTrack *track(int id) const;

    // Changes with every result recorded; the saver writes only when it moved.
    quint64 revision() const { return revision_; }

    // Every server's track, for saving (a plain memory copy of fixed-size
    // records); and taking saved ones back (each replaces what the history
    // holds for its id).
    void snapshot(std::vector<std::pair<int, HistoryTrack>> &into) const;
    void restore(std::vector<std::pair<int, HistoryTrack>> &&tracks);

public slots:
    // A probe result of server id now: reachable or not, the round trip in
    // microseconds (negative: not measured).
    void record(int id, bool reachable, qint64 latencyUs = -1);

private:
    HistoryTrack &trackFor(int id);

    Clock &clock_;
    qint64 wallAnchorMs_;
    qint64 clockAnchorMs_;
    QHash<int, int> index_; // id -> position in tracks_
    std::vector<std::unique_ptr<HistoryTrack>> tracks_;
    std::vector<int> ids_; // parallel to tracks_
    quint64 revision_ = 0;
};
