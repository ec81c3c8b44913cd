#pragma once

#include "IpAddress.h"

#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Name look-ups for the ping loop, which must never block on one: a few
// threads, started on the first name, that resolve names in turn.
class HostResolver {
public:
    using Done = std::function<void(unsigned slot, unsigned serial, std::optional<IpAddress> address)>;

    HostResolver(Done done, int threads);
    ~HostResolver();
    HostResolver(const HostResolver &) = delete;
    HostResolver &operator=(const HostResolver &) = delete;

    void lookUp(unsigned slot, unsigned serial, const QByteArray &host);
    int threadCount() const;

private:
    struct Job {
        unsigned slot;
        unsigned serial;
        QByteArray host;
    };
    void work();

    Done done_;
    int maxThreads_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    std::vector<std::thread> threads_;
    int idle_ = 0;
    bool quit_ = false;
};
