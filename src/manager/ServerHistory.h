#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <memory>
#include <optional>

class Clock;
class HistoryStore;
class ReachabilityHistory;

// The reachability history of the installed catalogue's servers, kept in the
// user's state folder from one run to the next: one history and one store per
// catalogue. A catalogue taken up in place of another gets a history of its
// own; the one it replaces is saved first. Lives on the GUI thread.
class ServerHistory : public QObject {
    Q_OBJECT
public:
    explicit ServerHistory(Clock &clock, QObject *parent = nullptr);
    // Saves the history of the catalogue in use.
    ~ServerHistory() override;

    // Takes up the catalogue named identity (HistoryStore::iniIdentity,
    // sharedIdentity) with the servers of ids. The catalogue in use already
    // keeps its history, less the servers no longer in ids; another one's is
    // read back from its file. Without ids (a catalogue not read yet) no server
    // is left out. An empty identity keeps a history that is never saved.
    void Use(const QString &identity, const std::optional<QSet<int>> &ids);
    QString Identity() const { return identity_; }

    // The history of the catalogue in use; none before the first Use.
    ReachabilityHistory *History() const { return history_.get(); }
    // Where it is saved; none for a history that is never saved.
    HistoryStore *Store() const { return store_.get(); }

    // A server that left the catalogue.
    void Forget(int id);
    // Writes the history now (at the program's end).
    void Save();

signals:
    // Another catalogue's history took the place of the one before.
    void historyReplaced(ReachabilityHistory *history);

private:
    void close();

    Clock &clock_;
    QString identity_;
    std::unique_ptr<ReachabilityHistory> history_;
    std::unique_ptr<HistoryStore> store_; // saves history_; goes before it
};
