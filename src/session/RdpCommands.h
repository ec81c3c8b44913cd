#pragma once

#include "RdpBackend.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

// What the GUI thread asks of a session's worker.
struct RdpCommand {
    enum Kind {
        Input,       // keyboard, mouse, clipboard, desktop size: for the server
        Disconnect,  // end the connection properly
        GiveUp,      // stop reconnecting
        Certificate, // the user's answer about the server's certificate
    };
    Kind kind = Input;
    RdpInput input{RdpInput::Key};
    RdpCertificateAnswer answer = RdpCertificateAnswer::Reject;
};

// The one way into a worker: commands queue here under the queue's own lock and
// wake the worker, whether it waits in its loop (on Event, with the library's
// handles) or in a pause of its own (Wait). A command that ends the connection
// also sets the library's abort event, so that the library returns.
class RdpCommands {
public:
    RdpCommands();
    ~RdpCommands();
    RdpCommands(const RdpCommands &) = delete;
    RdpCommands &operator=(const RdpCommands &) = delete;

    void Push(const RdpCommand &command);
    // Wakes the worker without a command: the session is given up.
    void Wake();
    // Every command waiting, oldest first; the event is reset.
    std::deque<RdpCommand> Take();
    // Waits until a command comes, Wake is called, or the time is up.
    void Wait(std::chrono::steady_clock::time_point until);

    // Set while commands wait: for the worker's wait on the library's handles.
    void *Event() const { return event_; }
    // The library's abort event while its context lives, nullptr otherwise.
    void SetAbortEvent(void *abortEvent);

private:
    void WakeLocked();

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<RdpCommand> queue_;
    bool woken_ = false;
    void *const event_;
    void *abortEvent_ = nullptr;
};
