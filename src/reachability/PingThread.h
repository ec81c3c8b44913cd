#pragma once

#include "PingEngine.h"
#include "PingReports.h"
#include "PingTarget.h"

#include <QObject>
#include <QPointer>

// The status poller of one server row: every cycle it waits 1000 ms, probes the
// row's address and reports the host's status by signal: online (a result of 1
// or more), offline (0) or not found (-1). The
// probing is done by the shared PingEngine; this object holds the poller's
// binding, state and last result, and lives on the GUI thread, where all of its
// methods are called.
//
// States: Made (until Resume), Running, Paused, Ended. Nothing is reported
// while paused or after Terminate, so the row may be deleted right after
// either call. Once ended the poller frees itself with deleteLater:
// Terminate ends it at once, running, paused or not yet resumed (whoever stops
// it forgets it at that moment), and so does a Resume that finds it unbound.
// A result that finds the poller unbound pauses it.
class TPingThread : public QObject, private PingClient {
    Q_OBJECT
public:
    enum class State {
        Made,
        Running,
        Paused,
        Ended
    };

    // Created suspended, the poller waits for Resume; otherwise it runs at once
    // (and, being unbound, ends at once). Without a parent the poller is owned
    // by its engine (by default the process's shared one, which the application
    // object owns), so pollers that nobody stops end with it at exit. Throws
    // AppError when the probing cannot be set up.
    explicit TPingThread(bool CreateSuspended, QObject *parent = nullptr);
    TPingThread(bool CreateSuspended, PingEngine *engine, QObject *parent = nullptr);
    ~TPingThread() override;

    static inline const QString Online = QStringLiteral("Online");
    static inline const QString Offline = QStringLiteral("Offline");
    // The status word a row shows: "Online", "Offline" (a host not found too),
    // nothing before the first probe.
    static QString StatusText(HostStatus status);
    static HostStatus StatusOf(int iRet);

    PingTarget *ListItem() const { return FListItem; }
    // Binds the poller to a row, or unbinds it with nullptr. The row's address
    // is read when the poller is resumed; while the poller runs, a change of
    // binding takes effect with the next cycle.
    void setListItem(PingTarget *row);

    // Also reports each status through a channel shared with other pollers
    // (none by default); the channel must outlive the poller's reports.
    void setReports(PingReports *reports) { reports_ = reports; }

    // The cycle's times (1000 ms of waiting, 3000 ms for an answer unless
    // set otherwise); they take effect when the poller next starts probing.
    void setTiming(const PingEngine::Timing &timing) { timing_ = timing; }

    void Resume();
    void Suspend();
    void Terminate();

    State state() const { return state_; }
    bool Terminated() const { return terminated_; }
    // The result of the last probe: -1, 0, or the number of replies.
    int iRet() const { return ret_; }
    // How many results have reached UpdateStatus.
    int cycles() const { return cycles_; }

signals:
    // After each result that reached a running, bound poller (and then on its
    // shared channel, result then status, if it has one and was not paused or
    // stopped meanwhile):
    // the status it means, then (unless a receiver paused or stopped
    // the poller) the raw result.
    void statusReported(HostStatus status);
    void statusUpdated(int iRet);
    // With every status reported: the round trip of the reply in microseconds
    // (-1 without a reply), for the server's history.
    void resultReported(HostStatus status, qint64 latencyUs);

private:
    void pingResult(int iRet, qint64 latencyUs) override;
    void UpdateStatus();
    void startProbing();
    void end();

    PingTarget *FListItem = nullptr;
    QPointer<PingReports> reports_;
    QPointer<PingEngine> engine_;
    PingEngine::Handle handle_;
    PingEngine::Timing timing_;
    State state_ = State::Made;
    bool terminated_ = false;
    int ret_ = 0;
    qint64 latencyUs_ = -1;
    int cycles_ = 0;
};
