#pragma once

#include <atomic>
#include <memory>
#include <thread>

// The registry of worker threads. It outlives every static object of the
// program, so that a worker still inside the library at exit may report to it.
namespace RdpWorkers {

using Flag = std::shared_ptr<std::atomic<bool>>;

// A worker has started; finished turns true as the very last thing it does.
void Add(const Flag &finished);
// Its session went while the worker still ran: the registry joins the thread
// once the flag has turned.
void Adopt(const Flag &finished, std::thread thread);
// Called by a worker as the last thing it does: turns the flag under the
// registry's lock, so that a join that follows waits for no lock of ours.
void Finished(const Flag &finished);

int Running();
bool Wait(int milliseconds);

} // namespace RdpWorkers
