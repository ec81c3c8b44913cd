#include "BackgroundTask.h"

TBackgroundTask::TBackgroundTask(Work work, QObject *parent) : QObject(parent), work_(std::move(work)) {}

TBackgroundTask::~TBackgroundTask()
{
    cancelled_ = true;
    if (thread_)
        thread_->wait();
}

void TBackgroundTask::Start()
{
    const Report report = [this](int done, int total) {
        emit Progress(done, total); // queued: the receivers live on the task's thread
        return !cancelled_.load();
    };
    thread_.reset(QThread::create([this, report] {
        work_(report);
        workDone_.store(true, std::memory_order_release);
    }));
    // Finished is told on the task's thread once the work has returned; the
    // acquiring load hands over what the work wrote, in a way that checkers see
    // too (the toolkit's own locks are not visible to ThreadSanitizer).
    connect(thread_.get(), &QThread::finished, this, [this] {
        finished_ = workDone_.load(std::memory_order_acquire);
        emit Finished();
    });
    thread_->start();
}
