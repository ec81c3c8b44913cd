#include "RdpWorkers.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace RdpWorkers {

namespace {

struct Entry {
    Flag finished;
    std::thread thread; // empty while its session owns it
};

struct Registry {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Entry> entries;

    // Joins the threads that have ended and forgets them; under lock. A finished
    // thread has left every function of ours, so the join returns at once.
    void Reap()
    {
        for (Entry &e : entries)
            if (*e.finished && e.thread.joinable())
                e.thread.join();
        std::erase_if(entries, [](const Entry &e) { return e.finished->load(); });
    }
};

// Never destroyed: a worker that outlives the program's static objects still finds it.
Registry &TheRegistry()
{
    static Registry *registry = new Registry;
    return *registry;
}

} // namespace

void Add(const Flag &finished)
{
    Registry &r = TheRegistry();
    std::lock_guard guard(r.lock);
    r.Reap();
    r.entries.push_back({finished, {}});
}

void Adopt(const Flag &finished, std::thread thread)
{
    Registry &r = TheRegistry();
    std::lock_guard guard(r.lock);
    auto it = std::find_if(r.entries.begin(), r.entries.end(), [&](const Entry &e) { return e.finished == finished; });
    if (it == r.entries.end() || *finished) {
        thread.join(); // already over
        return;
    }
    it->thread = std::move(thread);
}

void Finished(const Flag &finished)
{
    Registry &r = TheRegistry();
    std::lock_guard guard(r.lock);
    *finished = true;
    r.changed.notify_all();
}

int Running()
{
    Registry &r = TheRegistry();
    std::lock_guard guard(r.lock);
    r.Reap();
    return int(r.entries.size());
}

bool Wait(int milliseconds)
{
    Registry &r = TheRegistry();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock guard(r.lock);
    for (;;) {
        r.Reap();
        if (r.entries.empty())
            return true;
        if (r.changed.wait_until(guard, deadline) == std::cv_status::timeout) {
            r.Reap();
            return r.entries.empty();
        }
    }
}

} // namespace RdpWorkers
