#pragma once

#include "CatalogueStore.h"

#include <QList>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

// A store that talks over a network, run on a thread of its own. The store is
// made on that thread and every call is carried out there; the caller waits for
// the answer with its event loop running (user input held back until then), so
// the window keeps painting, timers keep firing and nothing can start a second
// change meanwhile. A call that has no answer within the deadline fails with a
// message; should its answer come later, the catalogue is told to read the store
// again (resynchronise), since the change may have been made after all.
//
// What the store announces from its thread reaches the catalogue on the caller's
// thread, never in the middle of a call: announcements that arrive while one is
// under way wait until it has returned.
class StoreThread : public CatalogueStore {
    Q_OBJECT
public:
    using Factory = std::function<std::unique_ptr<CatalogueStore>()>;
    // location: where the store is, for the user, known before the store exists.
    StoreThread(Factory makeStore, QString location, int deadlineMs = 9000);
    ~StoreThread() override;

    QString location() const override { return location_; }
    bool shared() const override { return true; }
    QString passwordFile() override;

    std::vector<TSvrGroup> readGroups(int &maxGroupId) override;
    std::vector<TSvrItem> readServers(int &maxServerId) override;
    QStringList takeLoadProblems() override;
    std::vector<TSvrGroup> fetchGroups(std::span<const int> ids) override;
    std::vector<TSvrItem> fetchServers(std::span<const int> ids) override;
    int recordVersion(CatalogueKind kind, int id) const override;

    int addGroup(const QString &name, int heldMax) override;
    int registerGroup(const TSvrGroup &group, int heldMax) override;
    void renameGroup(int groupId, const QString &name) override;
    void renameGroupChecked(int groupId, const QString &name, int version) override;
    void deleteGroup(int groupId) override;

    std::vector<int> addServers(std::span<const TSvrItem> servers, int heldMax) override;
    bool writeServer(const TSvrItem &server) override;
    bool writeServerChecked(const TSvrItem &server, int version) override;
    void setServerGroup(int serverId, int groupId) override;
    void deleteServer(int serverId) override;

    // Runs work(store) on the store's thread and returns its result here, or
    // rethrows what it threw. Throws AppError when the deadline passes first.
    template <class Work>
    auto call(Work work) -> decltype(work(std::declval<CatalogueStore &>()))
    {
        using Result = decltype(work(std::declval<CatalogueStore &>()));
        if constexpr (std::is_void_v<Result>) {
            run([work](CatalogueStore &store) mutable { work(store); });
        } else {
            auto result = std::make_shared<std::optional<Result>>();
            run([work, result](CatalogueStore &store) mutable { result->emplace(work(store)); });
            return std::move(**result);
        }
    }

    // Ends the store and its thread; calls made afterwards fail. The destructor does it too.
    void EndStore();

    // Whether a call is under way.
    bool busy() const { return busy_ > 0; }

private:
    struct Call;
    // Runs work on the store's thread and waits for it as call() says.
    void run(std::function<void(CatalogueStore &)> work);
    void finished(const std::shared_ptr<Call> &call);
    void deliver(std::function<void()> announcement);
    void flushAnnouncements();

    QString location_;
    int deadlineMs_;
    QThread thread_;
    QObject *context_ = nullptr;      // lives on thread_, parent of the store
    CatalogueStore *store_ = nullptr; // used on thread_ only
    int busy_ = 0;
    QList<std::function<void()>> fHeld;
    QTimer flush_;
};
