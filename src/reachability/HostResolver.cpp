#include "HostResolver.h"

HostResolver::HostResolver(Done done, int threads)
    : done_(std::move(done)), maxThreads_(threads)
{
}

HostResolver::~HostResolver()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        jobs_.clear();
    }
    wake_.notify_all();
    for (std::thread &thread : threads_)
        thread.join();
}

void HostResolver::lookUp(unsigned slot, unsigned serial, const QByteArray &host)
{
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(Job{slot, serial, host});
        // Another thread only when every running one is busy.
        if (int(threads_.size()) < maxThreads_ && int(jobs_.size()) > idle_)
            threads_.emplace_back([this] { work(); });
    }
    wake_.notify_one();
}

int HostResolver::threadCount() const
{
    std::lock_guard lock(mutex_);
    return int(threads_.size());
}

void HostResolver::work()
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            ++idle_;
            wake_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
            --idle_;
            if (quit_)
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        done_(job.slot, job.serial, IpAddress::resolve(job.host));
    }
}
