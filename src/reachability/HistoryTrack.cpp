#include "HistoryTrack.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double LatencyBaseUs = 10;
constexpr double LatencyStep = 1.06;
constexpr int ChangeCountMinutes = 70;

int slotOf(qint64 index, int slots)
{
    return int(index % slots);
}

} // namespace

std::uint8_t HistoryTrack::latencyCode(qint64 microseconds)
{
    if (microseconds < 0)
        return 0;
    if (microseconds <= LatencyBaseUs)
        return 1;
    const double steps = std::log(double(microseconds) / LatencyBaseUs) / std::log(LatencyStep);
    return std::uint8_t(std::clamp(1 + std::lround(steps), 1L, 255L));
}

double HistoryTrack::latencyMs(std::uint8_t code)
{
    if (code == 0)
        return std::nan("");
    return LatencyBaseUs * std::pow(LatencyStep, code - 1) / 1000.0;
}

std::uint8_t HistoryTrack::medianCode(std::vector<std::uint8_t> &codes)
{
    codes.erase(std::remove(codes.begin(), codes.end(), std::uint8_t(0)), codes.end());
    if (codes.empty())
        return 0;
    auto middle = codes.begin() + std::ptrdiff_t(codes.size() / 2);
    std::nth_element(codes.begin(), middle, codes.end());
    return *middle;
}

HistoryTrack::Ten HistoryTrack::makeTen(int up, int down, std::uint8_t latency)
{
    return Ten(std::min(up, 1023)) | Ten(std::min(down, 1023)) << 10 | Ten(latency) << 20;
}

std::uint8_t HistoryTrack::fineState(qint64 s) const
{
    const int slot = slotOf(s, FineSeconds);
    return (fine_[size_t(slot / 2)] >> (slot % 2 * 4)) & 0x3;
}

bool HistoryTrack::fineChange(qint64 s) const
{
    const int slot = slotOf(s, FineSeconds);
    return (fine_[size_t(slot / 2)] >> (slot % 2 * 4)) & 0x4;
}

void HistoryTrack::setFine(qint64 s, State state, bool change)
{
    const int slot = slotOf(s, FineSeconds);
    const int shift = slot % 2 * 4;
    std::uint8_t &byte = fine_[size_t(slot / 2)];
    byte = std::uint8_t((byte & ~(0xf << shift)) | ((state | (change ? 0x4 : 0)) << shift));
}

// Only the newest second's minute keeps a latency per second; a result is
// always recorded there.
void HistoryTrack::setLatency(qint64 s, std::uint8_t latency)
{
    if (s / 60 == fineHead_ / 60)
        headLatency_[size_t(s % 60)] = latency;
}

std::uint8_t HistoryTrack::latencyAt(qint64 s) const
{
    return s / 60 == fineHead_ / 60 ? headLatency_[size_t(s % 60)] : 0;
}

// The newest second's minute has ended: its median is all the ring keeps of it.
void HistoryTrack::closeMinute()
{
    fineMedian_[size_t(slotOf(fineHead_ / 60, FineMinutes))] = fineMedian(fineHead_ / 60);
}

void HistoryTrack::record(qint64 s, State state, std::uint8_t latency)
{
    if (s < 0 || state == Unknown || s < fineHead_)
        return;
    if (s == fineHead_) {
        // A second result within one second: the later one stands.
        const bool change = fineChange(s) || (state != lastState_ && lastState_ != Unknown);
        setFine(s, state, change);
        setLatency(s, latency);
        if (state != lastState_ && lastState_ != Unknown)
            lastChange_ = s;
        lastState_ = state;
        return;
    }
    const qint64 previous = fineHead_;
    moveFineTo(s);
    qint64 first = s;
    if (previous >= 0 && continuous_ && s - previous <= FillSeconds)
        first = previous + 1;
    continuous_ = true;
    const bool change = lastState_ != Unknown && state != lastState_;
    for (qint64 x = first; x <= s; ++x)
        setFine(x, state, change && x == first);
    setLatency(s, latency);
    if (change)
        lastChange_ = first;
    lastState_ = state;
}

void HistoryTrack::moveFineTo(qint64 s)
{
    if (fineHead_ < 0) {
        fineHead_ = s;
        return;
    }
    const qint64 oldMinute = fineHead_ / 60;
    const qint64 newMinute = s / 60;
    if (newMinute > oldMinute)
        closeMinute();
    // Every second that leaves the ring goes into its minute, oldest first.
    const qint64 leaveFrom = fineHead_ - FineSeconds + 1;
    const qint64 leaveTo = std::min(s - FineSeconds, fineHead_);
    for (qint64 x = std::max<qint64>(leaveFrom, 0); x <= leaveTo; ++x) {
        evictSecond(x);
        setFine(x, Unknown, false);
    }
    for (qint64 x = std::max(fineHead_ + 1, s - FineSeconds + 1); x <= s; ++x)
        setFine(x, Unknown, false);
    if (newMinute > oldMinute) {
        // The minutes passed over had no result; their slots may still hold
        // minutes that left the ring just now, so they are cleared only now.
        for (qint64 k = std::max(oldMinute + 1, newMinute - FineMinutes + 1); k <= newMinute; ++k)
            fineMedian_[size_t(slotOf(k, FineMinutes))] = 0;
        headLatency_.fill(0);
    }
    fineHead_ = s;
}

void HistoryTrack::evictSecond(qint64 s)
{
    const std::uint8_t state = fineState(s);
    if (state == Unknown)
        return;
    const qint64 m = s / 60;
    moveMinuteTo(m);
    if (m <= minuteHead_ - MinuteSlots)
        return;
    Minute &minute = minutes_[size_t(slotOf(m, MinuteSlots))];
    if (state == Up)
        ++minute.up;
    else
        ++minute.down;
    if (fineChange(s))
        ++minute.changes;
}

void HistoryTrack::putFineLatencies(std::uint8_t *slots) const
{
    std::fill(slots, slots + FineSeconds, std::uint8_t(0));
    if (fineHead_ < 0)
        return;
    const qint64 headMinute = fineHead_ / 60;
    for (qint64 x = std::max<qint64>(fineHead_ - FineSeconds + 1, 0); x <= fineHead_; ++x) {
        if (x / 60 == headMinute)
            slots[slotOf(x, FineSeconds)] = headLatency_[size_t(x % 60)];
        else if (x % 60 == 59)
            slots[slotOf(x, FineSeconds)] = fineMedian_[size_t(slotOf(x / 60, FineMinutes))];
    }
}

void HistoryTrack::takeFineLatencies(const std::uint8_t *slots)
{
    headLatency_.fill(0);
    fineMedian_.fill(0);
    if (fineHead_ < 0)
        return;
    const qint64 headMinute = fineHead_ / 60;
    const qint64 from = std::max<qint64>(fineHead_ - FineSeconds + 1, 0);
    std::vector<std::uint8_t> codes;
    codes.reserve(60);
    for (qint64 m = from / 60; m < headMinute; ++m) {
        codes.clear();
        for (qint64 x = std::max(m * 60, from); x <= m * 60 + 59; ++x)
            codes.push_back(slots[slotOf(x, FineSeconds)]);
        fineMedian_[size_t(slotOf(m, FineMinutes))] = medianCode(codes);
    }
    for (qint64 x = std::max(headMinute * 60, from); x <= fineHead_; ++x)
        headLatency_[size_t(x % 60)] = slots[slotOf(x, FineSeconds)];
}

std::uint8_t HistoryTrack::fineMedian(qint64 minute) const
{
    if (minute != fineHead_ / 60)
        return fineMedian_[size_t(slotOf(minute, FineMinutes))];
    std::vector<std::uint8_t> codes(headLatency_.begin(), headLatency_.end());
    return medianCode(codes);
}

void HistoryTrack::moveMinuteTo(qint64 m)
{
    if (m <= minuteHead_)
        return;
    if (minuteHead_ >= 0) {
        const qint64 leaveTo = std::min(m - MinuteSlots, minuteHead_);
        for (qint64 k = std::max<qint64>(minuteHead_ - MinuteSlots + 1, 0); k <= leaveTo; ++k)
            evictMinute(k);
    }
    for (qint64 k = std::max(minuteHead_ + 1, m - MinuteSlots + 1); k <= m; ++k)
        minutes_[size_t(slotOf(k, MinuteSlots))] = Minute();
    minuteHead_ = m;
    // The minute's first second is leaving the first ring: all of it is still there.
    minutes_[size_t(slotOf(m, MinuteSlots))].latency = fineMedian(m);
}

void HistoryTrack::evictMinute(qint64 m)
{
    Minute &minute = minutes_[size_t(slotOf(m, MinuteSlots))];
    if (minute.up == 0 && minute.down == 0) {
        minute = Minute();
        return;
    }
    const qint64 t = m / 10;
    moveTenTo(t);
    if (t > tenHead_ - TenSlots) {
        Ten &ten = tens_[size_t(slotOf(t, TenSlots))];
        ten = makeTen(tenUp(ten) + minute.up, tenDown(ten) + minute.down, tenLatency(ten));
    }
    minute = Minute();
}

void HistoryTrack::moveTenTo(qint64 t)
{
    if (t <= tenHead_)
        return;
    for (qint64 k = std::max(tenHead_ + 1, t - TenSlots + 1); k <= t; ++k)
        tens_[size_t(slotOf(k, TenSlots))] = 0;
    tenHead_ = t;
    // Its first minute is leaving the second ring: the rest of it is still there.
    std::vector<std::uint8_t> codes;
    for (qint64 k = std::max(t * 10, minuteHead_ - MinuteSlots + 1); k <= std::min(t * 10 + 9, minuteHead_); ++k)
        codes.push_back(minutes_[size_t(slotOf(k, MinuteSlots))].latency);
    tens_[size_t(slotOf(t, TenSlots))] = makeTen(0, 0, medianCode(codes));
}

HistoryTrack::Counts HistoryTrack::counts(qint64 from, qint64 to) const
{
    Counts c;
    if (fineHead_ < 0 || to < from)
        return c;
    for (qint64 x = std::max(from, fineHead_ - FineSeconds + 1); x <= std::min(to, fineHead_); ++x) {
        const std::uint8_t state = fineState(x);
        c.up += state == Up;
        c.down += state == Down;
        c.changes += fineChange(x);
    }
    const qint64 changesFrom = to - ChangeCountMinutes * 60;
    for (qint64 k = std::max<qint64>(minuteHead_ - MinuteSlots + 1, 0); minuteHead_ >= 0 && k <= minuteHead_; ++k) {
        if (k * 60 + 30 < from || k * 60 > to)
            continue;
        const Minute &minute = minutes_[size_t(slotOf(k, MinuteSlots))];
        c.up += minute.up;
        c.down += minute.down;
        if (k * 60 >= changesFrom)
            c.changes += minute.changes;
    }
    for (qint64 k = std::max<qint64>(tenHead_ - TenSlots + 1, 0); tenHead_ >= 0 && k <= tenHead_; ++k) {
        if (k * TenSeconds + TenSeconds / 2 < from || k * TenSeconds > to)
            continue;
        const Ten ten = tens_[size_t(slotOf(k, TenSlots))];
        c.up += tenUp(ten);
        c.down += tenDown(ten);
    }
    return c;
}

std::vector<std::uint8_t> HistoryTrack::minuteLatencies(qint64 to, int count) const
{
    count = std::clamp(count, 0, MinuteSlots + FineSeconds / 60);
    std::vector<std::uint8_t> series(size_t(count), 0);
    const qint64 last = to / 60;
    for (int i = 0; i < count; ++i) {
        const qint64 m = last - count + 1 + i;
        if (m < 0 || fineHead_ < 0)
            continue;
        if (m <= minuteHead_ && m > minuteHead_ - MinuteSlots)
            series[size_t(i)] = minutes_[size_t(slotOf(m, MinuteSlots))].latency;
        else if (m * 60 + 59 > fineHead_ - FineSeconds && m * 60 <= fineHead_)
            series[size_t(i)] = fineMedian(m);
    }
    return series;
}
