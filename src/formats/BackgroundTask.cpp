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
    fThread.reset(QThread::create([this, report] { fWork(report); }));
    // Finished is told on the task's thread once the work has returned.
    connect(fThread.get(), &QThread::finished, this, [this] {
        fFinished = true;
        emit Finished();
    });
    fThread->start();
}
