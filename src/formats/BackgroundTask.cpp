#include "BackgroundTask.h"

TBackgroundTask::TBackgroundTask(Work work, QObject *parent) : QObject(parent), fWork(std::move(work)) {}

TBackgroundTask::~TBackgroundTask()
{
    fCancelled = true;
    if (fThread)
        fThread->wait();
}

void TBackgroundTask::Start()
{
    const Report report = [this](int done, int total) {
        emit Progress(done, total); // queued: the receivers live on the task's thread
        return !fCancelled.load();
    };
    fThread.reset(QThread::create([this, report] {
        fWork(report);
        fWorkDone.store(true, std::memory_order_release);
    }));
    // Finished is told on the task's thread once the work has returned; the
    // acquiring load hands over what the work wrote, in a way that checkers see
    // too (the toolkit's own locks are not visible to ThreadSanitizer).
    connect(fThread.get(), &QThread::finished, this, [this] {
        fFinished = fWorkDone.load(std::memory_order_acquire);
        emit Finished();
    });
    fThread->start();
}
