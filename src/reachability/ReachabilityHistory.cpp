#include "ReachabilityHistory.h"

#include "Clock.h"
#include "PingThread.h"

#include <chrono>
#include <cmath>

namespace {

qint64 clockMs(const Clock &clock)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock.now().time_since_epoch()).count();
}

std::optional<double> availability(const HistoryTrack::Counts &c)
{
    if (c.up + c.down == 0)
        return std::nullopt;
    return double(c.up) / double(c.up + c.down);
}

} // namespace

ReachabilityHistory::ReachabilityHistory(Clock &clock, QObject *parent)
    : ReachabilityHistory(clock, QDateTime::currentMSecsSinceEpoch(), parent)
{
}

ReachabilityHistory::ReachabilityHistory(Clock &clock, qint64 wallNowMs, QObject *parent)
    : QObject(parent), clock_(clock), wallAnchorMs_(wallNowMs), clockAnchorMs_(clockMs(clock))
{
}

ReachabilityHistory::~ReachabilityHistory() = default;

qint64 ReachabilityHistory::nowSecond() const
{
    const qint64 ms = wallAnchorMs_ + clockMs(clock_) - clockAnchorMs_;
    return ms >= 0 ? ms / 1000 : 0;
}

HistoryTrack &ReachabilityHistory::trackFor(int id)
{
    const auto found = index_.constFind(id);
    if (found != index_.cend())
        return *tracks_[size_t(*found)];
    index_.insert(id, int(tracks_.size()));
    tracks_.push_back(std::make_unique<HistoryTrack>());
    ids_.push_back(id);
    return *tracks_.back();
}

const HistoryTrack *ReachabilityHistory::track(int id) const
{
    const auto found = index_.constFind(id);
    return found == index_.cend() ? nullptr : tracks_[size_t(*found)].get();
}

void ReachabilityHistory::forget(int id)
{
    const auto found = index_.constFind(id);
    if (found == index_.cend())
        return;
    const size_t at = size_t(*found);
    index_.erase(found);
    if (at + 1 != tracks_.size()) {
        tracks_[at] = std::move(tracks_.back());
        ids_[at] = ids_.back();
        index_[ids_[at]] = int(at);
    }
    tracks_.pop_back();
    ids_.pop_back();
    ++revision_;
}

void ReachabilityHistory::follow(TPingThread *poller, int id)
{
    connect(poller, &TPingThread::resultReported, this, [this, id](HostStatus status, qint64 latencyUs) {
        record(id, status == HostStatus::Online, latencyUs);
    });
}

void ReachabilityHistory::keepOnly(const QSet<int> &ids)
{
    const std::vector<int> all = ids_;
    for (const int id : all) {
        if (!ids.contains(id))
            forget(id);
    }
}

void ReachabilityHistory::record(int id, bool reachable, qint64 latencyUs)
{
    HistoryTrack &track = trackFor(id);
    track.record(nowSecond(), reachable ? HistoryTrack::Up : HistoryTrack::Down,
                 reachable ? HistoryTrack::latencyCode(latencyUs) : 0);
    ++revision_;
}

ReachabilityHistory::Summary ReachabilityHistory::summary(int id, int sparkMinutes) const
{
    Summary s;
    const HistoryTrack *t = track(id);
    if (!t)
        return s;
    const qint64 now = nowSecond();
    if (t->lastChange() >= 0)
        s.lastChange = QDateTime::fromSecsSinceEpoch(t->lastChange());
    const HistoryTrack::Counts hour = t->counts(now - HourSeconds + 1, now);
    s.availabilityHour = availability(hour);
    s.changesHour = hour.changes;
    s.availabilityDay = availability(t->counts(now - DaySeconds + 1, now));
    for (const std::uint8_t code : t->minuteLatencies(now, std::min(sparkMinutes, MaxSeries)))
        s.latencyMs.push_back(HistoryTrack::latencyMs(code));
    return s;
}

void ReachabilityHistory::snapshot(std::vector<std::pair<int, HistoryTrack>> &into) const
{
    into.resize(tracks_.size());
    for (size_t i = 0; i < tracks_.size(); ++i) {
        into[i].first = ids_[i];
        into[i].second = *tracks_[i];
    }
}

void ReachabilityHistory::restore(std::vector<std::pair<int, HistoryTrack>> &&tracks)
{
    for (auto &[id, saved] : tracks) {
        HistoryTrack &track = trackFor(id);
        track = saved;
        track.breakContinuity();
    }
    ++revision_;
}
