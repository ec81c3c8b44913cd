// The history's file: what a program wrote comes back at its next start with
// the time between unknown; a damaged, cut, oversized, foreign or future file
// is ignored; the file is written at most once a minute while results come in.
#include "HistoryCodec.h"
#include "HistoryStore.h"
#include "ManualClock.h"
#include "ReachabilityHistory.h"
#include "VirtualTime.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cmath>

using namespace std::chrono_literals;

namespace {

constexpr qint64 Start = 1800000000;
const QString Identity = QStringLiteral("ini:/srv/team/SvrList.ini");

// Two hours of three servers: one always up, one down for half an hour, one
// flapping, with latencies.
void feedTwoHours(ReachabilityHistory &history, ManualClock &clock)
{
    for (int s = 0; s < 7200; ++s) {
        if (s)
            clock.advance(1s);
        history.record(1, true, 500 + s % 50);
        if (s < 3000 || s >= 4800)
            history.record(2, true, 20000);
        else if (s % 4 == 3)
            history.record(2, false);
        if (s % 4 == 3)
            history.record(3, s / 120 % 2 == 0, 1500);
    }
}

bool saveAndWait(HistoryStore &store)
{
    QSignalSpy written(&store, &HistoryStore::written);
    store.saveNow();
    return written.wait(10000) && written.first().first().toBool();
}

QByteArray rehash(QByteArray bytes)
{
    bytes.chop(HistoryCodec::HashBytes);
    return bytes + QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

// Rewrites the records of a valid file (unpacked), keeping it well-formed otherwise.
QByteArray withRecords(const QByteArray &file, const std::function<void(QByteArray &)> &change)
{
    const qsizetype packedAt = HistoryCodec::HeaderBytes;
    QByteArray records = qUncompress(file.mid(packedAt, file.size() - packedAt - HistoryCodec::HashBytes));
    change(records);
    const QByteArray packed = qCompress(records, 1);
    QByteArray out = file.left(packedAt) + packed + QByteArray(HistoryCodec::HashBytes, '\0');
    qToLittleEndian(quint32(records.size() / HistoryCodec::RecordBytes), out.data() + packedAt - 8);
    qToLittleEndian(quint32(packed.size()), out.data() + packedAt - 4);
    return rehash(out);
}

} // namespace

class TstHistoryStore : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QByteArray valid_;

    QString file(const QString &name) const { return dir_.filePath(name); }

    static void write(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(bytes), bytes.size());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        ManualClock clock;
        ReachabilityHistory history(clock, Start * 1000);
        feedTwoHours(history, clock);
        HistoryCodec::Tracks tracks;
        history.snapshot(tracks);
        valid_ = HistoryCodec::encode(tracks, HistoryStore::catalogueKey(Identity), history.nowSecond());
    }

    void restartBringsBackWhatWasSaved()
    {
        const QString path = file(QStringLiteral("restart.bin"));
        ManualClock clock;
        ReachabilityHistory before(clock, Start * 1000);
        feedTwoHours(before, clock);
        const qint64 savedAt = before.nowSecond();
        {
            HistoryStore store(before, clock, Identity, path);
            QVERIFY(saveAndWait(store));
        }

        // Read back at the same moment: everything as it was.
        ManualClock sameClock;
        ReachabilityHistory same(sameClock, savedAt * 1000);
        HistoryStore sameStore(same, sameClock, Identity, path);
        QVERIFY(sameStore.load());
        QCOMPARE(same.size(), 3);
        for (const int id : {1, 2, 3}) {
            const ReachabilityHistory::Summary a = before.summary(id, 70);
            const ReachabilityHistory::Summary b = same.summary(id, 70);
            QCOMPARE(b.lastChange, a.lastChange);
            QCOMPARE(b.availabilityHour, a.availabilityHour);
            QCOMPARE(b.availabilityDay, a.availabilityDay);
            QCOMPARE(b.changesHour, a.changesHour);
            QCOMPARE(b.latencyMs.size(), a.latencyMs.size());
            for (size_t i = 0; i < a.latencyMs.size(); ++i)
                QVERIFY(b.latencyMs[i] == a.latencyMs[i] || (std::isnan(a.latencyMs[i]) && std::isnan(b.latencyMs[i])));
        }
        QCOMPARE(*same.summary(2).availabilityDay, (7200.0 - 1800) / 7200);

        // Started again five seconds later: the five seconds stay unknown, even
        // though a running program would have taken them for the state it found.
        ManualClock soonClock;
        ReachabilityHistory soon(soonClock, (savedAt + 6) * 1000);
        HistoryStore soonStore(soon, soonClock, Identity, path);
        QVERIFY(soonStore.load());
        soon.record(1, false);
        const HistoryTrack::Counts gap = soon.track(1)->counts(savedAt + 1, savedAt + 6);
        QCOMPARE(gap.down, 1);
        QCOMPARE(gap.up, 0);
        QCOMPARE(soon.summary(1).lastChange->toSecsSinceEpoch(), savedAt + 6);

        // Started 40 minutes later: the hour holds 19 minutes of results before
        // and a minute after, nothing down in between; no change across the gap.
        ManualClock laterClock;
        ReachabilityHistory later(laterClock, (savedAt + 2400) * 1000);
        HistoryStore laterStore(later, laterClock, Identity, path);
        QVERIFY(laterStore.load());
        for (int s = 0; s < 60; ++s) {
            laterClock.advance(1s);
            later.record(1, true, 500);
        }
        const HistoryTrack::Counts hour = later.track(1)->counts(later.nowSecond() - 3599, later.nowSecond());
        QCOMPARE(hour.down, 0);
        QCOMPARE(hour.up, 19 * 60 + 60);
        QVERIFY(!later.summary(1).lastChange);
        QCOMPARE(*later.summary(1).availabilityHour, 1.0);
    }

    void damagedFilesAreIgnored_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray v = valid_;
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("header only") << v.left(HistoryCodec::HeaderBytes);
        QTest::newRow("cut in half") << v.left(v.size() / 2);
        QTest::newRow("one byte short") << v.left(v.size() - 1);
        QTest::newRow("garbage after") << v + QByteArray("xyz");
        QByteArray flipped = v;
        flipped[flipped.size() / 2] = char(flipped[flipped.size() / 2] ^ 0x10);
        QTest::newRow("a bit flipped") << flipped;
        QTest::newRow("another format") << QByteArray("[MISC]\nMaxGroupID=3\n").repeated(40);
        QTest::newRow("another catalogue") << HistoryCodec::encode({}, HistoryStore::catalogueKey(QStringLiteral("shared:other")), Start);
        QByteArray future = v;
        qToLittleEndian(qint64(Start + 7200 + 86400), future.data() + 4 + 2 + 32);
        QTest::newRow("written in the future") << rehash(future);
        QByteArray counted = v;
        qToLittleEndian(quint32(99999), counted.data() + HistoryCodec::HeaderBytes - 8);
        QTest::newRow("count against size") << rehash(counted);
        QTest::newRow("unknown state") << withRecords(v, [](QByteArray &r) { r[4 + 32] = char(7); });
        QTest::newRow("minute over 60 s") << withRecords(v, [](QByteArray &r) { r[4 + 33 + 900] = char(61); });
        QTest::newRow("heads out of order") << withRecords(v, [](QByteArray &r) { qToLittleEndian(qint64(Start), r.data() + 4 + 8); });
        QTest::newRow("twice one server") << withRecords(v, [](QByteArray &r) { r.replace(HistoryCodec::RecordBytes, 4, r.left(4)); });
        QTest::newRow("records short") << withRecords(v, [](QByteArray &r) { r.chop(1); });
    }
    void damagedFilesAreIgnored()
    {
        QFETCH(QByteArray, bytes);
        const QString path = file(QStringLiteral("damaged.bin"));
        write(path, bytes);
        ManualClock clock;
        ReachabilityHistory history(clock, (Start + 7200) * 1000);
        HistoryStore store(history, clock, Identity, path);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^ignored ")));
        QVERIFY(!store.load());
        QCOMPARE(history.size(), 0);
    }

    void theValidFileOfTheTableLoads()
    {
        const QString path = file(QStringLiteral("valid.bin"));
        write(path, valid_);
        ManualClock clock;
        ReachabilityHistory history(clock, (Start + 7200) * 1000);
        HistoryStore store(history, clock, Identity, path);
        QVERIFY(store.load());
        QCOMPARE(history.size(), 3);
    }

    void oversizedAndRandomlyDamagedFiles()
    {
        const QString path = file(QStringLiteral("big.bin"));
        {
            QFile big(path);
            QVERIFY(big.open(QIODevice::WriteOnly));
            QVERIFY(big.write(valid_) == valid_.size());
            QVERIFY(big.resize(HistoryCodec::MaxFileBytes + 1)); // sparse: takes no room
        }
        ManualClock clock;
        ReachabilityHistory history(clock, (Start + 7200) * 1000);
        HistoryStore store(history, clock, Identity, path);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("too large")));
        QVERIFY(!store.load());
        QFile::remove(path);
        QVERIFY(!store.load()); // none at all: nothing to say

        // Damage in random places, checksum made right again: never a crash,
        // and whatever loads holds no more than the servers written.
        QRandomGenerator random(30);
        QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!ignored )")));
        for (int round = 0; round < 150; ++round) {
            QByteArray damaged = withRecords(valid_, [&](QByteArray &r) {
                for (int i = 0; i < 3; ++i)
                    r[random.bounded(int(r.size()))] = char(random.bounded(256));
            });
            write(path, damaged);
            ReachabilityHistory h(clock, (Start + 7200) * 1000);
            HistoryStore s(h, clock, Identity, path);
            s.load();
            QVERIFY(h.size() <= 3);
        }
    }

    void writesAtMostOnceAMinute()
    {
        const QString path = file(QStringLiteral("minute.bin"));
        TestClock clock;
        clock.setPace(2000);
        ReachabilityHistory history(clock, Start * 1000);
        HistoryStore store(history, clock, Identity, path);
        std::vector<qint64> savedAt;
        connect(&store, &HistoryStore::written, this, [&](bool ok) {
            QVERIFY(ok);
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            savedAt.push_back(qFromLittleEndian<qint64>(f.read(HistoryCodec::HeaderBytes).constData() + 4 + 2 + 32));
        });
        // Results every second for 130 s: written at the first and second minute.
        for (int s = 0; s < 130; ++s) {
            clock.advance(1s);
            history.record(1, s % 50 < 40, 700);
        }
        QTRY_COMPARE_WITH_TIMEOUT(store.writing(), false, 10000);
        QCOMPARE(savedAt, (std::vector<qint64>{Start + 60, Start + 120}));
        // The results after the last write go out at the next minute; then,
        // with nothing new, nothing is written.
        clock.advance(100s);
        QTRY_COMPARE_WITH_TIMEOUT(store.writing(), false, 10000);
        QCOMPARE(savedAt, (std::vector<qint64>{Start + 60, Start + 120, Start + 180}));
        // Written at once on demand (at the program's end); the minute's turn
        // that follows within the minute leaves out what came since.
        history.record(1, true, 700);
        store.saveNow();
        clock.advance(1s);
        history.record(1, true, 700);
        clock.advance(59s);
        QTRY_COMPARE_WITH_TIMEOUT(store.writing(), false, 10000);
        QCOMPARE(int(savedAt.size()), 4);
        QCOMPARE(savedAt.back(), Start + 230);
        clock.advance(11s);
        QTRY_COMPARE_WITH_TIMEOUT(int(savedAt.size()), 5, 10000);
        QCOMPARE(savedAt.back(), Start + 300);
    }

    // A history of many servers is copied into memory the writer made ready:
    // written by the minute as a small one is, the file holds every server as it
    // was; the save at the program's end takes what the history holds then.
    void manyServersAreWrittenWhole()
    {
        const QString path = file(QStringLiteral("many.bin"));
        const int servers = HistoryStore::PrepareFromServers * 2;
        TestClock clock;
        ReachabilityHistory history(clock, Start * 1000);
        std::vector<qint64> savedAt;
        {
            HistoryStore store(history, clock, Identity, path);
            connect(&store, &HistoryStore::written, this, [&](bool ok) {
                QVERIFY(ok);
                savedAt.push_back(history.nowSecond());
            });
            for (int s = 0; s < 61; ++s) {
                for (int id = 1; id <= servers && s % 10 == 0; ++id)
                    history.record(id, (id + s / 20) % 3 != 0, 300 + id);
                clock.advance(1s);
            }
            QTRY_VERIFY_WITH_TIMEOUT(!savedAt.empty() && !store.writing(), 10000);
            const qint64 firstWritten = savedAt.back();
            // More results within the minute, then the end.
            for (int s = 0; s < 30; ++s) {
                for (int id = 1; id <= servers && s % 10 == 0; ++id)
                    history.record(id, id % 5 != 0, 900);
                clock.advance(1s);
            }
            QCOMPARE(int(savedAt.size()), 1);
            store.saveNow();
            QTRY_VERIFY_WITH_TIMEOUT(!store.writing(), 10000);
            QCOMPARE(int(savedAt.size()), 2);
            QVERIFY(savedAt.back() >= firstWritten + 30);
        }
        ManualClock later;
        ReachabilityHistory back(later, history.nowSecond() * 1000);
        HistoryStore reader(back, later, Identity, path);
        QVERIFY(reader.load());
        QCOMPARE(back.size(), servers);
        for (const int id : {1, 2, 3, servers / 2, servers}) {
            const ReachabilityHistory::Summary a = history.summary(id, 5);
            const ReachabilityHistory::Summary b = back.summary(id, 5);
            QCOMPARE(b.lastChange, a.lastChange);
            QCOMPARE(b.availabilityHour, a.availabilityHour);
            QCOMPARE(b.changesHour, a.changesHour);
            QCOMPARE(b.latencyMs.size(), a.latencyMs.size());
            for (size_t i = 0; i < a.latencyMs.size(); ++i)
                QVERIFY(b.latencyMs[i] == a.latencyMs[i] || (std::isnan(a.latencyMs[i]) && std::isnan(b.latencyMs[i])));
        }
    }

    void aFileOfItsOwnPerCatalogueInTheStateFolder()
    {
        const QByteArray saved = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", dir_.filePath(QStringLiteral("state")).toUtf8());
        const QString a = HistoryStore::fileFor(HistoryStore::iniIdentity(QStringLiteral("/nonexistent/../etc/SvrList.ini")));
        const QString b = HistoryStore::fileFor(HistoryStore::sharedIdentity(QStringLiteral("../../x/\n")));
        const QString c = HistoryStore::fileFor(HistoryStore::sharedIdentity(QStringLiteral("team")));
        const QRegularExpression name(QStringLiteral("^history-[0-9a-f]{32}\\.bin$"));
        for (const QString &path : {a, b, c}) {
            QCOMPARE(QFileInfo(path).absolutePath(), dir_.filePath(QStringLiteral("state/brennic")));
            QVERIFY2(name.match(QFileInfo(path).fileName()).hasMatch(), qPrintable(path));
        }
        QVERIFY(a != b && b != c && a != c);
        qputenv("XDG_STATE_HOME", "relative/state");
        QCOMPARE(HistoryStore::stateFolder(), QDir::homePath() + QStringLiteral("/.local/state/brennic"));
        qunsetenv("XDG_STATE_HOME");
        QCOMPARE(HistoryStore::stateFolder(), QDir::homePath() + QStringLiteral("/.local/state/brennic"));

        // The store makes the folder when it first writes.
        qputenv("XDG_STATE_HOME", dir_.filePath(QStringLiteral("fresh")).toUtf8());
        ManualClock clock;
        ReachabilityHistory history(clock, Start * 1000);
        history.record(4, true, 100);
        HistoryStore store(history, clock, QStringLiteral("shared:team"));
        QVERIFY(saveAndWait(store));
        QVERIFY(QFile::exists(HistoryStore::fileFor(QStringLiteral("shared:team"))));
        if (saved.isNull())
            qunsetenv("XDG_STATE_HOME");
        else
            qputenv("XDG_STATE_HOME", saved);
    }
};

QTEST_GUILESS_MAIN(TstHistoryStore)
#include "tst_historystore.moc"
