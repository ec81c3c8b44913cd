#include "Catalogue.h"

#include "CatalogueConflict.h"
#include "CatalogueEvents.h"
#include "CatalogueStore.h"

#include <QCoreApplication>
#include <QHash>
#include <QSet>

#include <algorithm>

namespace {

std::unique_ptr<Catalogue> &installed()
{
    static std::unique_ptr<Catalogue> catalogue;
    return catalogue;
}

// Gives equal texts of many records one shared copy: many servers have the same
// user, domain or password, and an equal text is then held once, not once a server.
class SharedTexts {
public:
    void share(QString &text)
    {
        if (text.isEmpty())
            return;
        const auto found = texts_.constFind(text);
        if (found == texts_.constEnd())
            texts_.insert(text);
        else
            text = *found;
    }

private:
    QSet<QString> texts_;
};

} // namespace

Catalogue::Catalogue(std::unique_ptr<CatalogueStore> store)
    : events_(std::make_unique<CatalogueEvents>(this)), store_(std::move(store))
{
    events_->Watch(*store_);
}

Catalogue::~Catalogue()
{
    store_.reset();
    SvrGroups.reset();
    SvrList.reset();
}

Catalogue &Catalogue::Current()
{
    if (!installed())
        Install(MakeDefaultCatalogue());
    return *installed();
}

bool Catalogue::HasCurrent()
{
    return bool(installed());
}

void Catalogue::Install(std::unique_ptr<Catalogue> catalogue)
{
    installed() = std::move(catalogue);
    if (installed())
        installed()->Events().RelayTo(CatalogueEvents::Instance());
    // A catalogue holds its store's connection until the application ends, not past it.
    static bool releaseRegistered = false;
    if (installed() && QCoreApplication::instance() && !std::exchange(releaseRegistered, true))
        qAddPostRoutine([] { installed().reset(); });
}

void Catalogue::ReleaseCurrent()
{
    installed().reset();
}

QString Catalogue::Location() const
{
    return store_->location();
}

bool Catalogue::Shared() const
{
    return store_->shared();
}

TSvrGroup *Catalogue::FindGroup(int groupId)
{
    for (const auto &group : GetSvrGroups())
        if (group->GroupId == groupId)
            return group.get();
    return nullptr;
}

QString Catalogue::GroupNameOf(int groupId)
{
    const TSvrGroup *group = FindGroup(groupId);
    return group ? group->GroupName : UngroupedName();
}

void Catalogue::LoadGroups()
{
    if (!SvrGroups)
        SvrGroups = std::make_unique<TSvrGroups>();
    for (TSvrGroup &group : store_->readGroups(MaxGroupID))
        SvrGroups->Add(std::make_unique<TSvrGroup>(std::move(group)));
}

void Catalogue::LoadServers()
{
    if (!SvrList)
        SvrList = std::make_unique<TSvrList>();
    std::vector<TSvrItem> servers = store_->readServers(MaxServerId);
    loadProblems_ += store_->takeLoadProblems();
    // The name of each loaded group by its id, the first group of an id winning as in GetGroup.
    QHash<int, QString> names;
    for (const auto &group : GetSvrGroups())
        if (!names.contains(group->GroupId))
            names.insert(group->GroupId, group->GroupName);
    SharedTexts shared;
    for (TSvrItem &server : servers) {
        const auto name = names.constFind(server.Group.GroupId);
        server.Group.GroupName = name == names.constEnd() ? UngroupedName() : *name;
        shared.share(server.ClntSett.Domain);
        shared.share(server.ClntSett.User);
        shared.share(server.ClntSett.Password);
        SvrList->Add(std::make_unique<TSvrItem>(std::move(server)));
    }
}

TSvrGroups &Catalogue::GetSvrGroups()
{
    if (!SvrGroups)
        LoadGroups();
    return *SvrGroups;
}

TSvrList &Catalogue::GetSvrList()
{
    if (!SvrList)
        LoadServers();
    return *SvrList;
}

QString Catalogue::TakeLoadWarning()
{
    if (loadProblems_.isEmpty())
        return {};
    const QString text = QStringLiteral("以下服务器保存的密码无法读取，已按空密码载入，请重新设置密码：\n%1")
                             .arg(loadProblems_.join(QLatin1Char('\n')));
    loadProblems_.clear();
    return text;
}

void Catalogue::WriteSvrItem(const TSvrItem &item)
{
    if (!store_->writeServer(item))
        throw EServerGone(item.Id);
}

TSvrGroup Catalogue::GetGroup(int groupId)
{
    if (const TSvrGroup *group = FindGroup(groupId))
        return *group;
    return TSvrGroup{UngroupedId, UngroupedName()};
}

int Catalogue::GetGroupIdByName(const QString &name)
{
    int found = UngroupedId;
    for (const auto &group : GetSvrGroups())
        if (QString::localeAwareCompare(group->GroupName, name) == 0)
            found = group->GroupId;
    return found;
}

int Catalogue::AddGroup(const QString &name)
{
    TSvrGroups &groups = GetSvrGroups();
    const int id = store_->addGroup(name, MaxGroupID);
    MaxGroupID = std::max(MaxGroupID, id);
    groups.Add(std::make_unique<TSvrGroup>(TSvrGroup{id, name}));
    return id;
}

int Catalogue::RegisterGroup(const TSvrGroup &group)
{
    TSvrGroups &groups = GetSvrGroups();
    MaxGroupID = store_->registerGroup(group, MaxGroupID);
    groups.Add(std::make_unique<TSvrGroup>(group));
    return MaxGroupID;
}

void Catalogue::RenameGroup(int groupId, const QString &name)
{
    // Renaming a group that is not in the catalogue would only write a section no load reads.
    TSvrGroup *group = FindGroup(groupId);
    if (!group)
        return;
    store_->renameGroup(group->GroupId, name);
    group->GroupName = name;
}

void Catalogue::RenameGroup(int groupId, const QString &name, int version)
{
    TSvrGroup *group = FindGroup(groupId);
    if (!group)
        return;
    store_->renameGroupChecked(group->GroupId, name, version);
    group->GroupName = name;
}

int Catalogue::GroupVersion(int groupId)
{
    return store_->recordVersion(CatalogueKind::Group, groupId);
}

int Catalogue::SvrItemVersion(int serverId)
{
    return store_->recordVersion(CatalogueKind::Server, serverId);
}

bool Catalogue::GroupHasServers(int groupId)
{
    const TSvrList &servers = GetSvrList();
    return std::any_of(servers.begin(), servers.end(), [&](const auto &s) { return s->Group.GroupId == groupId; });
}

void Catalogue::DeleteGroup(int groupId)
{
    TSvrGroups &groups = GetSvrGroups();
    store_->deleteGroup(groupId);
    groups.Remove(FindGroup(groupId));
}

PSvrItem Catalogue::AddSvrItem(const TClientSettings &settings, int groupId, const QString &description)
{
    TSvrItem server;
    server.ClntSett = settings;
    server.Description = description;
    return AddSvrItems(std::span(&server, 1), groupId).front();
}

std::vector<PSvrItem> Catalogue::AddSvrItems(std::span<const TSvrItem> servers, int groupId)
{
    std::vector<TSvrItem> made(servers.begin(), servers.end());
    for (TSvrItem &item : made)
        item.Group.GroupId = groupId;
    return AddSvrItemsToGroups(made);
}

std::vector<PSvrItem> Catalogue::AddSvrItemsToGroups(std::span<const TSvrItem> servers)
{
    if (servers.empty())
        return {};
    TSvrList &list = GetSvrList();
    std::vector<TSvrItem> made(servers.begin(), servers.end());
    for (TSvrItem &item : made)
        item.Group = GetGroup(item.Group.GroupId);
    const std::vector<int> ids = store_->addServers(made, MaxServerId);
    std::vector<PSvrItem> added;
    added.reserve(made.size());
    QList<int> withPassword;
    for (size_t i = 0; i < made.size(); ++i) {
        made[i].Id = ids[i];
        MaxServerId = std::max(MaxServerId, ids[i]);
        if (!made[i].ClntSett.Password.isEmpty())
            withPassword << ids[i];
        added.push_back(list.Add(std::make_unique<TSvrItem>(std::move(made[i]))));
    }
    if (!withPassword.isEmpty())
        emit events_->PasswordsStored(withPassword);
    return added;
}

PSvrItem Catalogue::GetSvrItem(int serverId)
{
    for (const auto &server : GetSvrList())
        if (server->Id == serverId)
            return server.get();
    return nullptr;
}

void Catalogue::UpdateSvrItem(int serverId, const TClientSettings &settings, const QString &description)
{
    UpdateSvrItem(serverId, settings, description, 0); // version 0: whatever the stored record is
}

void Catalogue::UpdateSvrItem(int serverId, const TClientSettings &settings, const QString &description, int version)
{
    PSvrItem server = GetSvrItem(serverId);
    if (!server)
        return;
    TSvrItem changed = *server;
    changed.ClntSett = settings;
    changed.Description = description;
    try {
        if (!store_->writeServerChecked(changed, version))
            throw EServerGone(serverId);
    } catch (EServerChanged &conflict) {
        conflict.Theirs().Group.GroupName = GetGroup(conflict.Theirs().Group.GroupId).GroupName;
        throw;
    }
    *server = std::move(changed);
    if (!server->ClntSett.Password.isEmpty())
        emit events_->PasswordsStored({serverId});
}

void Catalogue::SetSvrGroup(int serverId, const QString &groupName)
{
    MoveSvrItem(GetSvrItem(serverId), groupName);
}

void Catalogue::MoveSvrItem(PSvrItem server, const QString &groupName)
{
    if (!server)
        return;
    const int groupId = GetGroupIdByName(groupName);
    store_->setServerGroup(server->Id, groupId);
    server->Group = TSvrGroup{groupId, groupName};
}

void Catalogue::DeleteSvrItem(PSvrItem server)
{
    if (!server)
        return;
    TSvrList &servers = GetSvrList();
    store_->deleteServer(server->Id);
    servers.Remove(server);
}
