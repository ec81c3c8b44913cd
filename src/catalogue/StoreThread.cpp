#include "StoreThread.h"

#include "AppError.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QSet>

#include <atomic>
#include <exception>

namespace {

// A call that takes longer than this shows as pending.
constexpr int kShowWaitingMs = 150;

// The store threads alive, so that they end before the toolkit's own clean-up at exit
// (Qt SQL closes whatever connections are left, from the main thread).
QSet<StoreThread *> &liveThreads()
{
    static QSet<StoreThread *> threads;
    return threads;
}

void endStoreThreadsAtExit()
{
    for (StoreThread *thread : liveThreads())
        thread->EndStore();
}

} // namespace

struct StoreThread::Call {
    std::function<void(CatalogueStore &)> work;
    std::exception_ptr error;       // written on the store's thread before done
    std::atomic<bool> done = false; // set on the store's thread
    QEventLoop *loop = nullptr;     // the waiting loop, while it waits (caller's thread only)
    bool abandoned = false;         // its caller stopped waiting (caller's thread only)
};

StoreThread::StoreThread(Factory makeStore, QString location, int deadlineMs)
    : location_(std::move(location)), deadlineMs_(deadlineMs)
{
    thread_.setObjectName(QStringLiteral("catalogue store"));
    context_ = new QObject; // owned by its thread from here on; released as the thread ends
    context_->moveToThread(&thread_);
    flush_.setSingleShot(true);
    flush_.setInterval(0);
    connect(&flush_, &QTimer::timeout, this, &StoreThread::flushAnnouncements);
    thread_.start();
    QMetaObject::invokeMethod(context_, [this, makeStore = std::move(makeStore)] {
        try {
            std::unique_ptr<CatalogueStore> store = makeStore();
            store->setParent(context_);
            store_ = store.release();
        } catch (const std::exception &) {
            return; // every call then says the store could not be made
        }
        connect(store_, &CatalogueStore::changedElsewhere, this,
                [this](CatalogueKind kind, CatalogueVerb verb, const QList<int> &ids) {
                    deliver([this, kind, verb, ids] { emit changedElsewhere(kind, verb, ids); });
                });
        connect(store_, &CatalogueStore::availability, this, [this](bool online, const QString &reason) {
            deliver([this, online, reason] { emit availability(online, reason); });
        });
        connect(store_, &CatalogueStore::changedUnseen, this, [this] { deliver([this] { emit changedUnseen(); }); });
        // Registered once the store has set up its connection, so that it runs before Qt SQL's own.
        QMetaObject::invokeMethod(this, [] {
            static bool registered = false;
            if (QCoreApplication::instance() && !std::exchange(registered, true))
                qAddPostRoutine(endStoreThreadsAtExit);
        });
    });
    liveThreads().insert(this);
}

StoreThread::~StoreThread()
{
    liveThreads().remove(this);
    EndStore();
}

void StoreThread::EndStore()
{
    // The store goes on its own thread, which then ends. A call still running there
    // is bounded by the store's own time limits.
    if (!thread_.isRunning())
        return;
    QMetaObject::invokeMethod(
        context_,
        [this] {
            store_ = nullptr;
            std::unique_ptr<QObject>(std::exchange(context_, nullptr)).reset();
        },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

void StoreThread::run(std::function<void(CatalogueStore &)> work)
{
    if (!thread_.isRunning())
        throw AppError(QStringLiteral("服务器目录 %1 已关闭。").arg(location_));
    auto call = std::make_shared<Call>();
    call->work = std::move(work);
    QMetaObject::invokeMethod(context_, [this, call] {
        try {
            if (!store_)
                throw AppError(QStringLiteral("无法使用服务器目录 %1。").arg(location_));
            call->work(*store_);
        } catch (...) {
            call->error = std::current_exception();
        }
        call->done = true;
        QMetaObject::invokeMethod(this, [this, call] { finished(call); });
    });

    QEventLoop loop;
    call->loop = &loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(deadlineMs_);
    QTimer showWaiting;
    showWaiting.setSingleShot(true);
    connect(&showWaiting, &QTimer::timeout, this, [this] { emit waiting(true); });
    showWaiting.start(kShowWaitingMs);

    ++busy_;
    if (!call->done)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    --busy_;
    call->loop = nullptr;
    call->abandoned = !call->done;
    if (!showWaiting.isActive())
        emit waiting(false);
    if (!busy_ && !fHeld.isEmpty())
        flush_.start();

    if (!call->done) {
        if (deadline.isActive()) // the application is ending
            throw AppError(QStringLiteral("程序正在退出，这次更改可能没有保存到 %1。").arg(location_));
        throw AppError(QStringLiteral("服务器目录 %1 在 %2 秒内没有答复，这次更改没有完成。\n请检查网络后再试。")
                           .arg(location_)
                           .arg(deadlineMs_ / 1000));
    }
    if (call->error)
        std::rethrow_exception(call->error);
}

void StoreThread::finished(const std::shared_ptr<Call> &call)
{
    if (call->loop) {
        call->loop->quit();
        return;
    }
    // An answer after its caller gave up: what the catalogue shows may be out of step.
    if (call->abandoned && !call->error)
        deliver([this] { emit changedUnseen(); });
}

void StoreThread::deliver(std::function<void()> announcement)
{
    if (busy_) {
        fHeld.append(std::move(announcement));
        return;
    }
    announcement();
}

void StoreThread::flushAnnouncements()
{
    while (!fHeld.isEmpty() && !busy_)
        fHeld.takeFirst()();
}

std::vector<TSvrGroup> StoreThread::readGroups(int &maxGroupId)
{
    auto [groups, max] = call([](CatalogueStore &store) {
        int counter = 0;
        std::vector<TSvrGroup> read = store.readGroups(counter);
        return std::pair(std::move(read), counter);
    });
    maxGroupId = max;
    return std::move(groups);
}

std::vector<TSvrItem> StoreThread::readServers(int &maxServerId)
{
    auto [servers, max] = call([](CatalogueStore &store) {
        int counter = 0;
        std::vector<TSvrItem> read = store.readServers(counter);
        return std::pair(std::move(read), counter);
    });
    maxServerId = max;
    return std::move(servers);
}

QString StoreThread::passwordFile()
{
    return call([](CatalogueStore &store) { return store.passwordFile(); });
}

QStringList StoreThread::takeLoadProblems()
{
    return call([](CatalogueStore &store) { return store.takeLoadProblems(); });
}

std::vector<TSvrGroup> StoreThread::fetchGroups(std::span<const int> ids)
{
    return call([wanted = std::vector<int>(ids.begin(), ids.end())](CatalogueStore &store) {
        return store.fetchGroups(wanted);
    });
}

std::vector<TSvrItem> StoreThread::fetchServers(std::span<const int> ids)
{
    return call([wanted = std::vector<int>(ids.begin(), ids.end())](CatalogueStore &store) {
        return store.fetchServers(wanted);
    });
}

int StoreThread::recordVersion(CatalogueKind kind, int id) const
{
    // Asking is no change: it goes through the same queue, so it sees every change made before it.
    return const_cast<StoreThread *>(this)->call([kind, id](CatalogueStore &store) { return store.recordVersion(kind, id); });
}

int StoreThread::addGroup(const QString &name, int heldMax)
{
    return call([name, heldMax](CatalogueStore &store) { return store.addGroup(name, heldMax); });
}

int StoreThread::registerGroup(const TSvrGroup &group, int heldMax)
{
    return call([group, heldMax](CatalogueStore &store) { return store.registerGroup(group, heldMax); });
}

void StoreThread::renameGroup(int groupId, const QString &name)
{
    call([groupId, name](CatalogueStore &store) { store.renameGroup(groupId, name); });
}

void StoreThread::renameGroupChecked(int groupId, const QString &name, int version)
{
    call([groupId, name, version](CatalogueStore &store) { store.renameGroupChecked(groupId, name, version); });
}

void StoreThread::deleteGroup(int groupId)
{
    call([groupId](CatalogueStore &store) { store.deleteGroup(groupId); });
}

std::vector<int> StoreThread::addServers(std::span<const TSvrItem> servers, int heldMax)
{
    return call([made = std::vector<TSvrItem>(servers.begin(), servers.end()), heldMax](CatalogueStore &store) {
        return store.addServers(made, heldMax);
    });
}

bool StoreThread::writeServer(const TSvrItem &server)
{
    return call([server](CatalogueStore &store) { return store.writeServer(server); });
}

bool StoreThread::writeServerChecked(const TSvrItem &server, int version)
{
    return call([server, version](CatalogueStore &store) { return store.writeServerChecked(server, version); });
}

void StoreThread::setServerGroup(int serverId, int groupId)
{
    call([serverId, groupId](CatalogueStore &store) { store.setServerGroup(serverId, groupId); });
}

void StoreThread::deleteServer(int serverId)
{
    call([serverId](CatalogueStore &store) { store.deleteServer(serverId); });
}
