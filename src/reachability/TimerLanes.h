#pragma once

#include <chrono>
#include <deque>
#include <vector>

// The ping loop's deadlines: one first-in-first-out lane for each distance
// from "now" at which deadlines are set (the wait of a cycle, the time-out of
// a probe, a short retry). Within a lane deadlines fall in the order they were
// added, so the earliest of all is the earliest of the lanes' fronts, and
// adding and taking one costs no more than the number of lanes.
class TimerLanes {
public:
    using Clock = std::chrono::steady_clock;
    struct Entry {
        Clock::time_point at;
        unsigned slot;
        unsigned serial;
    };

    void add(Clock::time_point now, Clock::duration after, unsigned slot, unsigned serial)
    {
        Lane *lane = nullptr;
        for (Lane &candidate : lanes_) {
            if (candidate.after == after) {
                lane = &candidate;
                break;
            }
        }
        if (!lane)
            lane = &lanes_.emplace_back(Lane{after, {}});
        lane->entries.push_back(Entry{now + after, slot, serial});
    }

    // The earliest deadline, or null when there is none.
    const Entry *front() const
    {
        const int lane = earliest();
        return lane < 0 ? nullptr : &lanes_[lane].entries.front();
    }

    void popFront()
    {
        if (const int lane = earliest(); lane >= 0)
            lanes_[lane].entries.pop_front();
    }

    // Takes deadlines off the fronts of the lanes while stale() says they no
    // longer count.
    template <typename Stale>
    void dropStale(Stale stale)
    {
        for (Lane &lane : lanes_) {
            while (!lane.entries.empty() && stale(lane.entries.front()))
                lane.entries.pop_front();
        }
    }

private:
    struct Lane {
        Clock::duration after;
        std::deque<Entry> entries;
    };

    // The index of the lane with the earliest front, or -1.
    int earliest() const
    {
        int best = -1;
        for (int i = 0; i < int(lanes_.size()); ++i) {
            const std::deque<Entry> &entries = lanes_[i].entries;
            if (!entries.empty() && (best < 0 || entries.front().at < lanes_[best].entries.front().at))
                best = i;
        }
        return best;
    }

    std::vector<Lane> lanes_;
};
