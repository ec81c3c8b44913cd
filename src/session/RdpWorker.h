#pragma once

// The state one session shares with its worker thread, and the worker itself.

#include "RdpBackend.h"
#include "RdpClipboard.h"
#include "RdpDisplayControl.h"
#include "RdpGraphics.h"
#include "RdpRelay.h"
#include "RdpWorkers.h"

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

struct RdpCore : std::enable_shared_from_this<RdpCore> {
    RdpCore();
    ~RdpCore();

    RdpConnectParams params;

    std::mutex lock; // guards receiver, events, input, abortEvent
    // The session's: the context of the calls posted to it, and what they call.
    QObject *receiver = nullptr;
    RdpSessionEvents *events = nullptr;
    std::deque<RdpInput> input;
    void *inputEvent = nullptr; // set when input waits
    void *abortEvent = nullptr; // the library's, while its context lives

    std::atomic<bool> cancelled{false};
    std::atomic<bool> disconnectRequested{false};
    std::atomic<bool> giveUpRequested{false};
    std::atomic<int> connected{0};
    // The colour depth the connection uses, as agreed with the server; 0 before.
    std::atomic<int> colorDepth{0};
    // From the loss of a connection until it is up again or the session ends.
    std::atomic<bool> reconnecting{false};
    RdpWorkers::Flag finished = std::make_shared<std::atomic<bool>>(false);

    std::mutex certLock;
    std::condition_variable certChanged;
    std::optional<RdpCertificateAnswer> certAnswer;

    // The worker's waits between reconnect attempts; woken by every end the user asks for.
    std::mutex waitLock;
    std::condition_variable waitChanged;

    RdpRelay relay;
    RdpClipboard clipboard;
    RdpFrameBuffer frame;
    RdpGraphics graphics;
    RdpDisplayControl display;
    // The desktop size last asked of the server on the display control channel,
    // and when (steady-clock milliseconds; 0 once the server has resized, or
    // before any request). A size to take the session up again at, when the
    // session asked for that. The sizes are the worker's alone.
    QSize sizeAsked;
    std::atomic<qint64> sizeAskedAtMs{0};
    QSize reconnectAtSize;

    // Runs fn with the session's events on the GUI thread, unless the session
    // has been given up by then.
    template <class Fn>
    void Post(Fn fn)
    {
        std::weak_ptr<RdpCore> weak = weak_from_this();
        std::lock_guard guard(lock);
        if (!receiver || cancelled)
            return;
        RdpSessionEvents *target = events;
        QMetaObject::invokeMethod(
            receiver,
            [weak, target, fn = std::move(fn)]() {
                // The call is dropped with the receiver; the core may be gone or cancelled.
                auto self = weak.lock();
                if (self && !self->cancelled)
                    fn(*target);
            },
            Qt::QueuedConnection);
    }

    // Wakes the worker through the library's abort event.
    void Abort();
    void Cancel();
    // Ends what the worker waits for: a pause between reconnect attempts, and an
    // attempt itself (the program's connection to the server is cut).
    void EndReconnect();
    void Enqueue(const RdpInput &event);
};

// The worker's whole life: connect, pump, report the end.
void RunRdpWorker(std::shared_ptr<RdpCore> core);
