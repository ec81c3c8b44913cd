#pragma once

#include <QtGlobal>

#include <array>
#include <cstdint>
#include <vector>

// One server's probe results over the last day, in three rings of fixed size:
// every second of the last 10 minutes (its state and a change mark; the latency
// of each second of the current minute, and the median of each minute before),
// then per-minute counts for the hour before, then per-ten-minute counts for
// the day. A second leaves the first ring into its minute, a minute
// leaves the second ring into its ten minutes; so the rings never overlap and
// sums over them are exact. Times are whole seconds of the wall clock.
//
// A latency is kept as a one-byte code on a logarithmic scale (see
// latencyCode); medians are taken over codes, which keeps their order.
class HistoryTrack {
public:
    enum State : std::uint8_t {
        Unknown = 0,
        Up = 1,
        Down = 2
    };
    static constexpr int FineSeconds = 600;
    // The minutes that a second of the first ring may fall in.
    static constexpr int FineMinutes = FineSeconds / 60 + 1;
    static constexpr int MinuteSlots = 60;
    static constexpr int TenSlots = 144; // 24 hours of ten minutes
    static constexpr int TenSeconds = 600;
    // A result stands for the seconds since the one before it, if they are this few
    // (a probe that waits for its time-out takes about four): a longer silence
    // stays unknown.
    static constexpr int FillSeconds = 10;

    struct Minute {
        std::uint8_t up = 0;
        std::uint8_t down = 0;
        std::uint8_t changes = 0;
        std::uint8_t latency = 0; // median code; 0: none
    };
    // Up seconds (10 bits), down seconds (10 bits), median latency code (8 bits).
    using Ten = std::uint32_t;

    struct Counts {
        qint64 up = 0;
        qint64 down = 0;
        qint64 changes = 0;
    };

    // Records a result for second s; ignores one older than the newest recorded.
    void record(qint64 s, State state, std::uint8_t latency);

    // Up and down seconds and changes of state from second from to second to;
    // stored buckets count when at least half of them lies in the window.
    // Changes are counted for the last 70 minutes only.
    Counts counts(qint64 from, qint64 to) const;
    // The median latency code of each of the count minutes up to and with the
    // minute of second to, oldest first; 0 where none. count is at most 70.
    std::vector<std::uint8_t> minuteLatencies(qint64 to, int count) const;

    // The seconds before the next result stay unknown whatever their number: the
    // track was read back from a file and the program was not running between.
    void breakContinuity() { continuous_ = false; }

    qint64 newestSecond() const { return fineHead_; }
    qint64 lastChange() const { return lastChange_; }
    State lastState() const { return State(lastState_); }

    // One byte for a latency in microseconds: 10 µs at 1, 6 % more each step,
    // up to about 27 s at 255; 0 for none (a negative latency).
    static std::uint8_t latencyCode(qint64 microseconds);
    static double latencyMs(std::uint8_t code);
    static std::uint8_t medianCode(std::vector<std::uint8_t> &codes);

    static Ten makeTen(int up, int down, std::uint8_t latency);
    static int tenUp(Ten t) { return int(t & 0x3ff); }
    static int tenDown(Ten t) { return int((t >> 10) & 0x3ff); }
    static std::uint8_t tenLatency(Ten t) { return std::uint8_t(t >> 20); }

private:
    friend class HistoryCodec;
    std::uint8_t fineState(qint64 s) const;
    bool fineChange(qint64 s) const;
    void setFine(qint64 s, State state, bool change);
    void setLatency(qint64 s, std::uint8_t latency);
    std::uint8_t latencyAt(qint64 s) const;
    void closeMinute();
    // The first ring's latencies one byte a second, by slot, as files hold them:
    // an ended minute's median stands at its last second the ring holds, its
    // other seconds hold none; and the same taken back.
    void putFineLatencies(std::uint8_t *slots) const;
    void takeFineLatencies(const std::uint8_t *slots);
    void moveFineTo(qint64 s);
    void evictSecond(qint64 s);
    void moveMinuteTo(qint64 m);
    void evictMinute(qint64 m);
    void moveTenTo(qint64 t);
    std::uint8_t fineMedian(qint64 minute) const;

    qint64 fineHead_ = -1;   // newest second of the first ring; -1: nothing yet
    qint64 minuteHead_ = -1; // newest minute of the second ring
    qint64 tenHead_ = -1;    // newest ten minutes of the third ring
    qint64 lastChange_ = -1; // second of the last change between up and down
    std::uint8_t lastState_ = Unknown;
    bool continuous_ = true; // the last result was taken while the program ran
    // Two seconds a byte, a nibble each: state (2 bits), change (bit 2).
    std::array<std::uint8_t, FineSeconds / 2> fine_{};
    // The latency codes of the seconds of the newest second's minute, and the
    // median of each earlier minute the first ring holds (taken when it ended).
    std::array<std::uint8_t, 60> headLatency_{};
    std::array<std::uint8_t, FineMinutes> fineMedian_{};
    std::array<Minute, MinuteSlots> minutes_{};
    std::array<Ten, TenSlots> tens_{};
};
