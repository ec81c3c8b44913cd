#pragma once

// One connection's state shared by the GUI thread, its worker thread and the
// library's channel threads, and the worker itself.
//
// What is shared is owned by parts that each keep their own lock: the commands
// into the worker (RdpCommands), the picture (RdpFrame), the clipboard, the
// relay, the graphics and the display control channel. The rest is a few
// atomic facts that the worker sets and the GUI thread reads, and the session's
// receiver, under the reports' lock. What the worker decides along the way
// stays on its own stack.

#include "RdpBackend.h"
#include "RdpClipboard.h"
#include "RdpCommands.h"
#include "RdpDisplayControl.h"
#include "RdpFrame.h"
#include "RdpGraphics.h"
#include "RdpRelay.h"
#include "RdpWorkers.h"

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <memory>
#include <mutex>

class RdpCore : public std::enable_shared_from_this<RdpCore> {
public:
    RdpCore(QObject *receiver, RdpSessionEvents *events);

    // ---- the GUI thread ----
    // Input for the server; dropped while no connection is up.
    void Send(const RdpInput &input);
    void Disconnect();
    void GiveUpReconnect();
    void AnswerCertificate(RdpCertificateAnswer answer);
    // Gives the session up: no report comes any more, and the worker ends
    // wherever it waits. Forget also drops the session's receiver.
    void Cancel();
    void Forget();
    int Connected() const { return connected_; }
    int ColorDepth() const { return colorDepth_; }
    bool Reconnecting() const { return reconnecting_; }

    // ---- the worker ----
    bool Cancelled() const { return cancelled_; }
    void SetConnected(bool up) { connected_ = up ? 1 : 0; }
    void SetColorDepth(int depth) { colorDepth_ = depth; }
    void SetReconnecting(bool reconnecting) { reconnecting_ = reconnecting; }
    const RdpWorkers::Flag &Finished() const { return finished_; }

    // Runs fn with the session's events on the GUI thread, unless the session
    // has been given up by then.
    template <class Fn>
    void Post(Fn fn)
    {
        std::weak_ptr<RdpCore> weak = weak_from_this();
        std::lock_guard guard(reportLock_);
        if (!receiver_ || cancelled_)
            return;
        RdpSessionEvents *target = events_;
        QMetaObject::invokeMethod(
            receiver_,
            [weak, target, fn = std::move(fn)]() {
                // The call is dropped with the receiver; the core may be gone or cancelled.
                auto self = weak.lock();
                if (self && !self->cancelled_)
                    fn(*target);
            },
            Qt::QueuedConnection);
    }

    // Set before the worker starts; the worker's alone afterwards.
    RdpConnectParams params;

    RdpCommands commands;
    RdpRelay relay;
    RdpClipboard clipboard;
    RdpFrame frame;
    RdpGraphics graphics;
    RdpDisplayControl display;

private:
    std::mutex reportLock_; // guards receiver_ and events_
    QObject *receiver_;
    RdpSessionEvents *events_;
    std::atomic<bool> cancelled_{false};
    std::atomic<int> connected_{0};
    // The colour depth the connection uses, as agreed with the server; 0 before.
    std::atomic<int> colorDepth_{0};
    // From the loss of a connection until it is up again or the session ends.
    std::atomic<bool> reconnecting_{false};
    RdpWorkers::Flag finished_ = std::make_shared<std::atomic<bool>>(false);
};

// The worker's whole life: connect, pump, report the end.
void RunRdpWorker(std::shared_ptr<RdpCore> core);
