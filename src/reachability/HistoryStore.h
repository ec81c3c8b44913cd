#pragma once

#include "ClockTimer.h"
#include "HistoryTrack.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

class ReachabilityHistory;

// Keeps a ReachabilityHistory in a small file of the user's state folder,
// $XDG_STATE_HOME/brennic (by default ~/.local/state/brennic), one file per
// catalogue: read back by load() at start, written at most once a minute while
// the history changes, atomically (a reader sees the old file or the new one)
// and off the GUI thread. A file that is missing, damaged, truncated, too large,
// of another catalogue or written in the future is ignored with a log line.
class HistoryStore : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::seconds SaveInterval{60};
    // From this many servers on, the writer's thread makes the copy's memory
    // ready before the copy is taken; below it the copy is taken at once.
    static constexpr int PrepareFromServers = 256;

    // identity names the catalogue (iniIdentity, sharedIdentity); the file is
    // fileFor(identity) unless path is given.
    HistoryStore(ReachabilityHistory &history, Clock &clock, const QString &identity, QObject *parent = nullptr);
    HistoryStore(ReachabilityHistory &history, Clock &clock, const QString &identity, const QString &path, QObject *parent = nullptr);
    // Waits for a write in flight.
    ~HistoryStore() override;

    static QString stateFolder();
    static QString iniIdentity(const QString &iniPath);
    static QString sharedIdentity(const QString &catalogueId);
    static QByteArray catalogueKey(const QString &identity);
    // The file of a catalogue: a name made of the hash of its identity, so that
    // no path or id turns into a file name of its own.
    static QString fileFor(const QString &identity);

    QString path() const { return path_; }
    // Reads the file into the history; whether anything was taken.
    bool load();
    // Writes the history now (at the program's end), unless a write is in flight.
    void saveNow();
    bool writing() const { return inFlight_ || preparing_; }

signals:
    // After each write, on the thread of the store.
    void written(bool ok);

private:
    void tick();
    void startWrite();
    QObject *writer();
    void copyPrepared(std::shared_ptr<std::vector<std::pair<int, HistoryTrack>>> tracks);
    void writeCopy(std::shared_ptr<std::vector<std::pair<int, HistoryTrack>>> tracks);
    void finishWrite(bool ok);

    ReachabilityHistory &history_;
    Clock &clock_;
    QString path_;
    QByteArray key_;
    ClockTimer timer_;
    QThread thread_;
    QObject *worker_ = nullptr; // lives on thread_, from the first write on
    // Qt's queue already orders each hand-over of a copy between this thread and
    // the writer's; taking this lock on both sides shows that order to the
    // thread checker, which cannot see inside Qt.
    std::mutex handOver_;
    bool preparing_ = false; // the writer makes a copy's memory ready
    bool inFlight_ = false;  // a copy was handed to the writer
    quint64 savedRevision_ = 0;
    std::optional<Clock::time_point> lastWrite_;
};
