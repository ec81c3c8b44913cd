#include "CatalogueEvents.h"

#include <QSet>

#include <algorithm>

namespace {

// The group name a server of this group id shows: its group's, or the fallback name.
QString groupNameOf(int groupId)
{
    for (const auto &group : *SvrGroups)
        if (group->GroupId == groupId)
            return group->GroupName;
    return UngroupedName();
}

TSvrGroup *groupOf(int groupId)
{
    for (const auto &group : *SvrGroups)
        if (group->GroupId == groupId)
            return group.get();
    return nullptr;
}

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

CatalogueEvents &CatalogueEvents::Instance()
{
    static CatalogueEvents events;
    return events;
}

void ConnectCatalogueEvents(CatalogueStore &store)
{
    CatalogueEvents &events = CatalogueEvents::Instance();
    events.fOnline = true;
    events.fReason.clear();
    QObject::connect(&store, &CatalogueStore::changedElsewhere, &events,
                     [&events, &store](CatalogueKind kind, CatalogueVerb verb, const QList<int> &ids) {
                         events.apply(store, kind, verb, ids);
                     });
    QObject::connect(&store, &CatalogueStore::availability, &events,
                     [&events, &store](bool online, const QString &reason) {
                         const bool back = online && !events.fOnline;
                         events.fOnline = online;
                         events.fReason = reason;
                         if (back)
                             events.catchUp(store);
                         emit events.Availability(online, reason);
                     });
}

// What a store announces is a hint, whoever sent it: the records named are read
// again, and what the store holds now decides whether each was added, changed,
// moved or deleted.
void CatalogueEvents::apply(CatalogueStore &store, CatalogueKind kind, CatalogueVerb, const QList<int> &ids)
{
    if (!SvrGroups || !SvrList) // not loaded yet: the load will read the store as it stands
        return;
    const std::vector<int> wanted(ids.begin(), ids.end());
    try {
        if (kind == CatalogueKind::Group) {
            const std::vector<TSvrGroup> fetched = store.fetchGroups(wanted);
            applyGroups({}, CatalogueVerb::Deleted, absentFrom(fetched, ids, [](const TSvrGroup &g) { return g.GroupId; }));
            applyGroups(fetched, CatalogueVerb::Changed, {});
        } else {
            const std::vector<TSvrItem> fetched = store.fetchServers(wanted);
            applyServers({}, CatalogueVerb::Deleted, absentFrom(fetched, ids, [](const TSvrItem &s) { return s.Id; }));
            applyServers(fetched, CatalogueVerb::Changed, {});
        }
    } catch (const AppError &) {
        // The store could not be read: it is lost, and the catch-up when it is back
        // brings the lists in step.
    }
}

void CatalogueEvents::applyGroups(const std::vector<TSvrGroup> &fetched, CatalogueVerb verb, const QList<int> &ids)
{
    if (verb == CatalogueVerb::Deleted) {
        for (int id : ids)
            if (TSvrGroup *group = groupOf(id)) {
                SvrGroups->Remove(group);
                emit GroupDeleted(id);
            }
        return;
    }
    for (const TSvrGroup &fresh : fetched) {
        TSvrGroup *group = groupOf(fresh.GroupId);
        if (!group) {
            SvrGroups->Add(std::make_unique<TSvrGroup>(fresh));
            MaxGroupID = std::max(MaxGroupID, fresh.GroupId);
            emit GroupAdded(fresh.GroupId);
        } else if (group->GroupName != fresh.GroupName) {
            group->GroupName = fresh.GroupName;
            for (const auto &server : *SvrList)
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
            deleteServer(GetSvrItem(id));
        return;
    }
    for (const TSvrItem &fresh : fetched) {
        PSvrItem server = GetSvrItem(fresh.Id);
        if (!server) {
            auto made = std::make_unique<TSvrItem>(fresh);
            made->Group.GroupName = groupNameOf(fresh.Group.GroupId);
            MaxServerId = std::max(MaxServerId, fresh.Id);
            emit ServerAdded(SvrList->Add(std::move(made)));
            continue;
        }
        const int oldGroup = server->Group.GroupId;
        const bool changed = server->ClntSett != fresh.ClntSett || server->Description != fresh.Description;
        server->ClntSett = fresh.ClntSett;
        server->Description = fresh.Description;
        if (oldGroup != fresh.Group.GroupId) {
            server->Group = TSvrGroup{fresh.Group.GroupId, groupNameOf(fresh.Group.GroupId)};
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
    SvrList->Remove(server);
}

void CatalogueEvents::catchUp(CatalogueStore &store)
{
    if (!SvrGroups || !SvrList)
        return;
    int counter = 0;
    const std::vector<TSvrGroup> groups = store.readGroups(counter);
    QSet<int> present;
    for (const TSvrGroup &group : groups)
        present.insert(group.GroupId);
    QList<int> gone;
    for (const auto &group : *SvrGroups)
        if (!present.contains(group->GroupId))
            gone << group->GroupId;
    applyGroups({}, CatalogueVerb::Deleted, gone);
    applyGroups(groups, CatalogueVerb::Changed, {});

    const std::vector<TSvrItem> servers = store.readServers(counter);
    present.clear();
    for (const TSvrItem &server : servers)
        present.insert(server.Id);
    gone.clear();
    for (const auto &server : *SvrList)
        if (!present.contains(server->Id))
            gone << server->Id;
    applyServers({}, CatalogueVerb::Deleted, gone);
    applyServers(servers, CatalogueVerb::Changed, {});
}
