// Each server's reachability history, fed second by second on a hand-set clock:
// flapping, long outages seen over an hour and a day as the results move
// through the rings and the rings wrap, silences that stay unknown, and the
// latency of each minute.
#include "HistoryCodec.h"
#include "HistoryTrack.h"
#include "ManualClock.h"
#include "ReachabilityHistory.h"

#include <QTest>

#include <QRandomGenerator>

#include <cmath>
#include <map>
#include <vector>

using namespace std::chrono_literals;

namespace {

// A wall-clock start on a whole ten minutes, so that windows can end on the
// edges of the stored buckets.
constexpr qint64 Start = 1800000000;

// What each second was, as the history should hold it.
struct Truth {
    std::vector<int> states; // by second from Start: 0 unknown, 1 up, 2 down

    qint64 count(qint64 from, qint64 to, int state) const
    {
        qint64 n = 0;
        for (qint64 s = std::max<qint64>(from, Start); s <= to && s - Start < qint64(states.size()); ++s)
            n += states[size_t(s - Start)] == state;
        return n;
    }
};

// Feeds a history as a poller would: an online host answers every second, an
// offline one every fourth (the wait and the time-out), a silent stretch
// (the program not running) gives nothing.
class Feed {
public:
    Feed(ReachabilityHistory &history, ManualClock &clock, int id)
        : history_(history), clock_(clock), id_(id)
    {
    }

    void up(qint64 seconds, qint64 latencyUs = 800)
    {
        for (qint64 i = 0; i < seconds; ++i) {
            tick();
            history_.record(id_, true, latencyUs);
            truth.states.push_back(1);
        }
    }
    // seconds: a multiple of four, so that the last result closes the stretch.
    void down(qint64 seconds)
    {
        for (qint64 i = 0; i < seconds; ++i) {
            tick();
            if (i % 4 == 3)
                history_.record(id_, false);
            truth.states.push_back(2);
        }
    }
    void silent(qint64 seconds)
    {
        for (qint64 i = 0; i < seconds; ++i) {
            tick();
            truth.states.push_back(0);
        }
    }
    qint64 now() const { return Start + qint64(truth.states.size()) - 1; }

    Truth truth;

private:
    void tick()
    {
        if (!truth.states.empty())
            clock_.advance(1s);
    }

    ReachabilityHistory &history_;
    ManualClock &clock_;
    int id_;
};

} // namespace

class TstHistory : public QObject {
    Q_OBJECT

private:
    // The track's counts over a window ending now must be the truth's, exactly,
    // when the window starts on the edge of a stored bucket.
    static void compareWindow(const ReachabilityHistory &history, const Feed &feed, int id, qint64 seconds)
    {
        const qint64 to = feed.now();
        const qint64 from = to - seconds + 1;
        const HistoryTrack::Counts c = history.track(id)->counts(from, to);
        QCOMPARE(c.up, feed.truth.count(from, to, 1));
        QCOMPARE(c.down, feed.truth.count(from, to, 2));
    }

private slots:
    void latencyCodeKeepsOrderAndScale_data()
    {
        QTest::addColumn<qint64>("us");
        QTest::addColumn<double>("lowMs");
        QTest::addColumn<double>("highMs");
        QTest::newRow("loopback") << qint64(30) << 0.028 << 0.032;
        QTest::newRow("lan") << qint64(800) << 0.77 << 0.83;
        QTest::newRow("wan") << qint64(85000) << 82.0 << 88.0;
        QTest::newRow("time-out") << qint64(3000000) << 2900.0 << 3100.0;
        QTest::newRow("beyond the scale") << qint64(3600000000) << 20000.0 << 40000.0;
        QTest::newRow("zero") << qint64(0) << 0.0099 << 0.0101;
    }
    void latencyCodeKeepsOrderAndScale()
    {
        QFETCH(qint64, us);
        QFETCH(double, lowMs);
        QFETCH(double, highMs);
        const double ms = HistoryTrack::latencyMs(HistoryTrack::latencyCode(us));
        QVERIFY2(ms >= lowMs && ms <= highMs, qPrintable(QString::number(ms)));
        QCOMPARE(HistoryTrack::latencyCode(-1), std::uint8_t(0));
        QVERIFY(std::isnan(HistoryTrack::latencyMs(0)));
        std::uint8_t previous = 0;
        for (qint64 u = 1; u < 40000000; u = u * 3 / 2 + 1) {
            const std::uint8_t code = HistoryTrack::latencyCode(u);
            QVERIFY(code >= previous);
            previous = code;
        }
    }

    void flappingCountsChangesAndKeepsTheLastTime()
    {
        ManualClock clock;
        ReachabilityHistory history(clock, Start * 1000);
        Feed feed(history, clock, 7);
        feed.up(120);
        QVERIFY(!history.summary(7).lastChange); // up since it was first seen: no change yet
        // Eight times down for 20 s and up for 40 s.
        qint64 lastUp = 0;
        for (int i = 0; i < 8; ++i) {
            feed.down(20);
            lastUp = feed.now() + 1;
            feed.up(40);
        }
        feed.up(3000);
        const ReachabilityHistory::Summary s = history.summary(7);
        QVERIFY(s.lastChange);
        QCOMPARE(s.lastChange->toSecsSinceEpoch(), lastUp);
        // 16 changes, all within the hour, some of them already per minute.
        QCOMPARE(s.changesHour, 16);
        QCOMPARE(history.track(7)->lastState(), HistoryTrack::Up);
        // The down time of each flap is counted whole: 8 x 20 s.
        compareWindow(history, feed, 7, ReachabilityHistory::HourSeconds);
        const HistoryTrack::Counts all = history.track(7)->counts(Start, feed.now());
        QCOMPARE(all.down, 160);
        QCOMPARE(all.up, feed.truth.count(Start, feed.now(), 1));
        // An hour later the flaps are out of the window; the last change stays.
        feed.up(4200);
        QCOMPARE(history.summary(7).changesHour, 0);
        QCOMPARE(history.summary(7).lastChange->toSecsSinceEpoch(), lastUp);
    }

    void longOutageOverHourAndDay()
    {
        ManualClock clock;
        ReachabilityHistory history(clock, Start * 1000);
        Feed feed(history, clock, 1);
        // Up for the first hour, down from 1 h to 3 h, then up: checked at
        // moments when the outage lies in the seconds, the minutes and the ten
        // minutes, and at last when the day's ring has wrapped past its start.
        feed.up(3600);
        feed.down(2 * 3600);
        const qint64 outageEnd = feed.now() + 1;
        struct Check {
            qint64 at; // seconds since Start, ending on 599 of a ten minutes
            double hour;
            double day;
        };
        const std::vector<Check> checks = {
            {3 * 3600 + 599, 600.0 / 3600, 4200.0 / 11400},    // 10 min up after the outage
            {3 * 3600 + 1799, 1800.0 / 3600, 5400.0 / 12600},  // half an hour after
            {4 * 3600 + 599, 1.0, 7800.0 / 15000},             // the outage now in the tens
            {25 * 3600 + 599, 1.0, (86400.0 - 6600) / 86400},  // the day's first 1 h 10 min gone
            {26 * 3600 + 1199, 1.0, (86400.0 - 2400) / 86400}, // most of the outage gone
            {27 * 3600 + 599, 1.0, 1.0},                       // all of it gone
        };
        for (const Check &check : checks) {
            feed.up(Start + check.at - feed.now());
            QCOMPARE(feed.now(), Start + check.at);
            compareWindow(history, feed, 1, ReachabilityHistory::HourSeconds);
            compareWindow(history, feed, 1, ReachabilityHistory::DaySeconds);
            const ReachabilityHistory::Summary s = history.summary(1);
            QVERIFY(s.availabilityHour && s.availabilityDay);
            QVERIFY2(std::abs(*s.availabilityDay - check.day) < 1e-9, qPrintable(QStringLiteral("at %1: %2").arg(check.at).arg(*s.availabilityDay)));
            QVERIFY2(std::abs(*s.availabilityHour - check.hour) < 1e-9, qPrintable(QStringLiteral("at %1: %2").arg(check.at).arg(*s.availabilityHour)));
            QCOMPARE(s.lastChange->toSecsSinceEpoch(), outageEnd);
        }
    }

    void windowsOffTheBucketEdgesStayClose()
    {
        ManualClock clock;
        ReachabilityHistory history(clock, Start * 1000);
        Feed feed(history, clock, 3);
        // Down 8 minutes of every 40, for 30 hours, read at odd seconds: a
        // window's old end falls inside a stored bucket, which counts when at
        // least half of it lies inside.
        for (int i = 0; i < 45; ++i) {
            feed.up(32 * 60 - 7 * (i % 3));
            feed.down(8 * 60);
            feed.up(7 * (i % 3));
            for (const qint64 window : {qint64(ReachabilityHistory::HourSeconds), qint64(ReachabilityHistory::DaySeconds)}) {
                const qint64 to = feed.now();
                const qint64 from = to - window + 1;
                const HistoryTrack::Counts c = history.track(3)->counts(from, to);
                const qint64 bucket = window == ReachabilityHistory::HourSeconds ? 60 : 600;
                QVERIFY(std::abs(c.up - feed.truth.count(from, to, 1)) <= bucket / 2);
                QVERIFY(std::abs(c.down - feed.truth.count(from, to, 2)) <= bucket / 2);
            }
        }
    }

    void silenceIsUnknownNotDown()
    {
        ManualClock clock;
        ReachabilityHistory history(clock, Start * 1000);
        Feed feed(history, clock, 2);
        feed.up(1200);
        feed.silent(1800); // paused, or the program not running
        feed.up(600);
        const ReachabilityHistory::Summary s = history.summary(2);
        QCOMPARE(*s.availabilityHour, 1.0);
        QCOMPARE(*s.availabilityDay, 1.0);
        QVERIFY(!s.lastChange);
        compareWindow(history, feed, 2, ReachabilityHistory::HourSeconds);
        // Down after a silence: the change is at the first result, not before it.
        feed.silent(300);
        const qint64 downAt = feed.now() + 1;
        clock.advance(1s);
        history.record(2, false);
        feed.truth.states.push_back(2);
        QCOMPARE(history.summary(2).lastChange->toSecsSinceEpoch(), downAt);
        QCOMPARE(history.track(2)->counts(downAt - 400, downAt).down, 1);
        // No result yet at all: nothing to say.
        QVERIFY(!history.summary(99).availabilityHour);
    }

    void latencyOfEachMinute()
    {
        ManualClock clock;
        ReachabilityHistory history(clock, Start * 1000);
        Feed feed(history, clock, 5);
        // Minute k answers in (k % 7 + 1) ms, but for three slow seconds each.
        for (int k = 0; k < 80; ++k) {
            feed.up(3, 200000);
            feed.up(57, (k % 7 + 1) * 1000);
        }
        const ReachabilityHistory::Summary s = history.summary(5, 70);
        QCOMPARE(int(s.latencyMs.size()), 70);
        for (int i = 0; i < 70; ++i) {
            const int k = 80 - 70 + i;
            const double expected = HistoryTrack::latencyMs(HistoryTrack::latencyCode((k % 7 + 1) * 1000));
            QVERIFY2(s.latencyMs[size_t(i)] == expected, qPrintable(QStringLiteral("minute %1: %2").arg(k).arg(s.latencyMs[size_t(i)])));
        }
        // An offline stretch has no latency.
        feed.down(120);
        const ReachabilityHistory::Summary after = history.summary(5, 3);
        QCOMPARE(after.latencyMs[0], HistoryTrack::latencyMs(HistoryTrack::latencyCode(79 % 7 * 1000 + 1000)));
        QVERIFY(std::isnan(after.latencyMs[1]));
        QVERIFY(std::isnan(after.latencyMs[2]));
    }

    // A minute's latency is the median of every result recorded in it, whichever
    // ring holds the minute by now: checked against that plain definition over
    // hours of irregular results (pauses of a few seconds up to a quarter of an
    // hour, repeated seconds, replies and none), with the track written to a
    // file's form and read back now and then on the way.
    void minuteLatencyIsTheMedianOfItsResults()
    {
        QRandomGenerator random(20261211);
        HistoryTrack track;
        std::map<qint64, std::vector<std::uint8_t>> results; // minute -> codes, a second's last one
        std::map<qint64, std::uint8_t> bySecond;
        const QByteArray key = QByteArray(32, 'k');
        qint64 s = Start;
        for (int step = 0; step < 12000; ++step) {
            const quint32 pause = random.bounded(1000);
            s += pause < 20 ? 0 : pause < 985 ? 1 + random.bounded(4)
                : pause < 998                 ? 20 + random.bounded(60)
                                              : 300 + random.bounded(600);
            const bool up = random.bounded(10) != 0;
            const std::uint8_t code = up && random.bounded(8) != 0 ? std::uint8_t(1 + random.bounded(255)) : 0;
            track.record(s, up ? HistoryTrack::Up : HistoryTrack::Down, code);
            bySecond[s] = code;
            if (step % 997 == 0) {
                const QByteArray bytes = HistoryCodec::encode({{1, track}}, key, s);
                const std::optional<HistoryCodec::Decoded> back = HistoryCodec::decode(bytes, key, s, nullptr);
                QVERIFY(back && back->tracks.size() == 1);
                track = back->tracks[0].second;
            }
        }
        for (const auto &[second, code] : bySecond)
            results[second / 60].push_back(code);
        const std::vector<std::uint8_t> series = track.minuteLatencies(s, 70);
        QCOMPARE(int(series.size()), 70);
        int withLatency = 0;
        for (int i = 0; i < 70; ++i) {
            const qint64 minute = s / 60 - 69 + i;
            std::vector<std::uint8_t> codes = results.count(minute) ? results[minute] : std::vector<std::uint8_t>{};
            const std::uint8_t expected = HistoryTrack::medianCode(codes);
            withLatency += expected != 0;
            QVERIFY2(series[size_t(i)] == expected, qPrintable(QStringLiteral("minute %1 of 70: %2, expected %3").arg(i).arg(series[size_t(i)]).arg(expected)));
        }
        QVERIFY(withLatency > 20);
    }

    void forgettingAServerKeepsTheOthers()
    {
        ManualClock clock;
        ReachabilityHistory history(clock, Start * 1000);
        for (int id = 1; id <= 5; ++id)
            history.record(id, id % 2 == 0);
        history.forget(2);
        history.forget(42);
        QCOMPARE(history.size(), 4);
        QVERIFY(!history.contains(2));
        for (const int id : {1, 3, 4, 5})
            QCOMPARE(history.track(id)->lastState(), id % 2 == 0 ? HistoryTrack::Up : HistoryTrack::Down);
        history.keepOnly({5, 1, 77});
        QCOMPARE(history.size(), 2);
        QVERIFY(history.contains(1) && history.contains(5) && !history.contains(3) && !history.contains(4));
        QCOMPARE(history.track(5)->lastState(), HistoryTrack::Down);
        QCOMPARE(history.track(1)->lastState(), HistoryTrack::Down);
    }
};

QTEST_GUILESS_MAIN(TstHistory)
#include "tst_history.moc"
