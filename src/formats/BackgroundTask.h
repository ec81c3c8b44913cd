#pragma once

#include <QObject>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

// Runs one piece of work on a thread of its own, so that reading files or
// deriving keys never holds up the thread that started it. The work reports its
// progress through the function it is given, which also tells it whether to go
// on; Progress and Finished reach the task's own thread queued. The work must
// leave the objects of the starting thread alone until Finished.
class TBackgroundTask : public QObject {
    Q_OBJECT
public:
    // Answers false once the task is cancelled.
    using Report = std::function<bool(int done, int total)>;
    using Work = std::function<void(const Report &report)>;

    explicit TBackgroundTask(Work work, QObject *parent = nullptr);
    // Cancels the work and waits for it to end.
    ~TBackgroundTask() override;
    TBackgroundTask(const TBackgroundTask &) = delete;
    TBackgroundTask &operator=(const TBackgroundTask &) = delete;

    void Start();
    void Cancel() { cancelled_ = true; }
    bool IsCancelled() const { return cancelled_; }
    bool IsFinished() const { return finished_; }

signals:
    void Progress(int done, int total);
    void Finished();

private:
    Work work_;
    std::unique_ptr<QThread> thread_;
    std::atomic<bool> cancelled_ = false;
    std::atomic<bool> workDone_ = false;
    bool finished_ = false; // on the task's thread
};
