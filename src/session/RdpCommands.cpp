#include "RdpCommands.h"

#include <winpr/synch.h>

RdpCommands::RdpCommands() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

RdpCommands::~RdpCommands()
{
    if (event_)
        CloseHandle(event_);
}

void RdpCommands::Push(const RdpCommand &command)
{
    std::lock_guard guard(lock_);
    queue_.push_back(command);
    SetEvent(event_);
    if (command.kind != RdpCommand::Input && command.kind != RdpCommand::Certificate && abortEvent_)
        SetEvent(abortEvent_);
    WakeLocked();
}

void RdpCommands::Wake()
{
    std::lock_guard guard(lock_);
    if (abortEvent_)
        SetEvent(abortEvent_);
    WakeLocked();
}

void RdpCommands::WakeLocked()
{
    woken_ = true;
    changed_.notify_all();
}

std::deque<RdpCommand> RdpCommands::Take()
{
    std::lock_guard guard(lock_);
    std::deque<RdpCommand> taken;
    taken.swap(queue_);
    ResetEvent(event_);
    woken_ = false;
    return taken;
}

void RdpCommands::Wait(std::chrono::steady_clock::time_point until)
{
    std::unique_lock guard(lock_);
    changed_.wait_until(guard, until, [&] { return woken_; });
}

void RdpCommands::SetAbortEvent(void *abortEvent)
{
    std::lock_guard guard(lock_);
    abortEvent_ = abortEvent;
}
