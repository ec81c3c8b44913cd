#include "CatalogueEvents.h"

#include "Catalogue.h"

#include <QSet>
#include <QTimer>

#include <algorithm>

namespace {

// A catch-up that failed (the store was lost again, or did not answer) is tried again after this.
constexpr int kRetryMs = 2000;

// The ids asked for that the records read back do not have.
template <class Record, class IdOf>
QList<int> absentFrom(const std::vector<Record> &records, const QList<int> &ids, IdOf idOf)
{
    QSet<int> present;
    for (const Record &record : records)
        present.insert(idOf(record));
    QList<int> absent;
    for (int id : ids)
        if (!present.contains(id))
            absent << id;
    return absent;
}

} // namespace

CatalogueEvents::CatalogueEvents(Catalogue *catalogue)
    : catalogue_(catalogue)
{
    retry_.setSingleShot(true);
    retry_.setInterval(kRetryMs);
}

CatalogueEvents &CatalogueEvents::Instance()
{
    static CatalogueEvents relay(nullptr);
    return relay;
}

void CatalogueEvents::RelayTo(CatalogueEvents &relay)
{
    relay.online_ = online_;
    relay.reason_ = reason_;
    connect(this, &CatalogueEvents::GroupAdded, &relay, &CatalogueEvents::GroupAdded);
    connect(this, &CatalogueEvents::GroupRenamed, &relay, &CatalogueEvents::GroupRenamed);
    connect(this, &CatalogueEvents::GroupDeleted, &relay, &CatalogueEvents::GroupDeleted);
    connect(this, &CatalogueEvents::ServerAdded, &relay, &CatalogueEvents::ServerAdded);
    connect(this, &CatalogueEvents::ServerChanged, &relay, &CatalogueEvents::ServerChanged);
    connect(this, &CatalogueEvents::ServerMoved, &relay, &CatalogueEvents::ServerMoved);
    connect(this, &CatalogueEvents::ServerDeleting, &relay, &CatalogueEvents::ServerDeleting);
    connect(this, &CatalogueEvents::Waiting, &relay, &CatalogueEvents::Waiting);
    connect(this, &CatalogueEvents::PasswordsStored, &relay, &CatalogueEvents::PasswordsStored);
    connect(this, &CatalogueEvents::Availability, &relay, [&relay](bool online, const QString &reason) {
        relay.online_ = online;
        relay.reason_ = reason;
        emit relay.Availability(online, reason);
    });
}

void CatalogueEvents::Watch(CatalogueStore &store)
{
    connect(&store, &CatalogueStore::changedElsewhere, this,
            [this, &store](CatalogueKind kind, CatalogueVerb verb, const QList<int> &ids) {
                try {
                    apply(store, kind, verb, ids);
                } catch (const std::exception &) {
                    retry_.start(); // whatever the change was, a catch-up brings it
                }
            });
    connect(&store, &CatalogueStore::availability, this, [this](bool online, const QString &reason) {
        const bool back = online && !online_;
        online_ = online;
        reason_ = reason;
        if (back)
            retry_.start(0);
        else if (!online)
            retry_.stop(); // the store's return brings the catch-up
        emit Availability(online, reason);
    });
    connect(&store, &CatalogueStore::changedUnseen, this, [this] { retry_.start(0); });
    connect(&store, &CatalogueStore::waiting, this, &CatalogueEvents::Waiting);
    connect(&retry_, &QTimer::timeout, this, [this, &store] {
        if (!online_)
            return;
        try {
            catchUp(store);
        } catch (const std::exception &) {
            retry_.start(kRetryMs);
        }
    });
}

// What a store announces is a hint, whoever sent it: the records named are read
// again, and what the store holds now decides whether each was added, changed,
// moved or deleted.
void CatalogueEvents::apply(CatalogueStore &store, CatalogueKind kind, CatalogueVerb, const QList<int> &ids)
{
    if (!catalogue_->SvrGroups || !catalogue_->SvrList) // not loaded yet: the load will read the store as it stands
        return;
    // What the announcement says is only a hint: the rows are read again, those the
    // store has are shown as they are, and only ids it no longer has are deleted. A
    // store that cannot be read throws; the caller then catches up later.
    const std::vector<int> wanted(ids.begin(), ids.end());
    if (kind == CatalogueKind::Group) {
        const std::vector<TSvrGroup> fetched = store.fetchGroups(wanted);
        applyGroups({}, CatalogueVerb::Deleted, absentFrom(fetched, ids, [](const TSvrGroup &g) { return g.GroupId; }));
        applyGroups(fetched, CatalogueVerb::Changed, {});
    } else {
        const std::vector<TSvrItem> fetched = store.fetchServers(wanted);
        applyServers({}, CatalogueVerb::Deleted, absentFrom(fetched, ids, [](const TSvrItem &s) { return s.Id; }));
        applyServers(fetched, CatalogueVerb::Changed, {});
    }
}

void CatalogueEvents::applyGroups(const std::vector<TSvrGroup> &fetched, CatalogueVerb verb, const QList<int> &ids)
{
    if (verb == CatalogueVerb::Deleted) {
        for (int id : ids)
            if (TSvrGroup *group = catalogue_->FindGroup(id)) {
                catalogue_->SvrGroups->Remove(group);
                emit GroupDeleted(id);
            }
        return;
    }
    for (const TSvrGroup &fresh : fetched) {
        TSvrGroup *group = catalogue_->FindGroup(fresh.GroupId);
        if (!group) {
            catalogue_->SvrGroups->Add(std::make_unique<TSvrGroup>(fresh));
            catalogue_->MaxGroupID = std::max(catalogue_->MaxGroupID, fresh.GroupId);
            emit GroupAdded(fresh.GroupId);
        } else if (group->GroupName != fresh.GroupName) {
            group->GroupName = fresh.GroupName;
            for (const auto &server : *catalogue_->SvrList)
                if (server->Group.GroupId == fresh.GroupId)
                    server->Group.GroupName = fresh.GroupName;
            emit GroupRenamed(fresh.GroupId, fresh.GroupName);
        }
    }
}

void CatalogueEvents::applyServers(const std::vector<TSvrItem> &fetched, CatalogueVerb verb, const QList<int> &ids)
{
    if (verb == CatalogueVerb::Deleted) {
        for (int id : ids)
            deleteServer(catalogue_->GetSvrItem(id));
        return;
    }
    for (const TSvrItem &fresh : fetched) {
        PSvrItem server = catalogue_->GetSvrItem(fresh.Id);
        if (!server) {
            auto made = std::make_unique<TSvrItem>(fresh);
            made->Group.GroupName = catalogue_->GroupNameOf(fresh.Group.GroupId);
            catalogue_->MaxServerId = std::max(catalogue_->MaxServerId, fresh.Id);
            emit ServerAdded(catalogue_->SvrList->Add(std::move(made)));
            continue;
        }
        const int oldGroup = server->Group.GroupId;
        const bool changed = server->ClntSett != fresh.ClntSett || server->Description != fresh.Description;
        server->ClntSett = fresh.ClntSett;
        server->Description = fresh.Description;
        if (oldGroup != fresh.Group.GroupId) {
            server->Group = TSvrGroup{fresh.Group.GroupId, catalogue_->GroupNameOf(fresh.Group.GroupId)};
            emit ServerMoved(server, oldGroup);
        }
        if (changed)
            emit ServerChanged(server);
    }
}

void CatalogueEvents::deleteServer(PSvrItem server)
{
    if (!server)
        return;
    emit ServerDeleting(server);
    catalogue_->SvrList->Remove(server);
}

void CatalogueEvents::catchUp(CatalogueStore &store)
{
    if (!catalogue_->SvrGroups || !catalogue_->SvrList)
        return;
    int counter = 0;
    const std::vector<TSvrGroup> groups = store.readGroups(counter);
    QSet<int> present;
    for (const TSvrGroup &group : groups)
        present.insert(group.GroupId);
    QList<int> gone;
    for (const auto &group : *catalogue_->SvrGroups)
        if (!present.contains(group->GroupId))
            gone << group->GroupId;
    applyGroups({}, CatalogueVerb::Deleted, gone);
    applyGroups(groups, CatalogueVerb::Changed, {});

    const std::vector<TSvrItem> servers = store.readServers(counter);
    present.clear();
    for (const TSvrItem &server : servers)
        present.insert(server.Id);
    gone.clear();
    for (const auto &server : *catalogue_->SvrList)
        if (!present.contains(server->Id))
            gone << server->Id;
    applyServers({}, CatalogueVerb::Deleted, gone);
    applyServers(servers, CatalogueVerb::Changed, {});
}
