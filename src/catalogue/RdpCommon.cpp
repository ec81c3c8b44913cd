#include "RdpCommon.h"

#include "AppError.h"
#include "Encrypt.h"
#include "CatalogueEvents.h"
#include "IniStore.h"
#include "PgStore.h"
#include "ServerListLocation.h"

#include <QCoreApplication>
#include <QHash>
#include <QSet>
#include <QFileInfo>

#include <algorithm>

// Declared in this order so that the process releases them in the reverse one:
// the file handle first, then the groups, then the servers.
std::unique_ptr<TSvrList> SvrList;
std::unique_ptr<TSvrGroups> SvrGroups;
int MaxGroupID = 0;
int MaxServerId = 0;

namespace {

std::unique_ptr<CatalogueStore> Store;
QString iniFileOverride;
QString databaseAddress;
QStringList loadProblems;

QString defaultIniFileName()
{
    const QString dir = QCoreApplication::instance()
        ? QCoreApplication::applicationDirPath()
        : QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath();
    return DefaultServerListFile(dir);
}

TSvrGroup *findGroup(int groupId)
{
    for (const auto &group : GetSvrGroups())
        if (group->GroupId == groupId)
            return group.get();
    return nullptr;
}

// Gives equal texts of many records one shared copy: many servers have the same
// user, domain or password, and an equal text is then held once, not once a server.
class SharedTexts {
public:
    void share(QString &text)
    {
        if (text.isEmpty())
            return;
        const auto found = fTexts.constFind(text);
        if (found == fTexts.constEnd())
            fTexts.insert(text);
        else
            text = *found;
    }

private:
    QSet<QString> fTexts;
};

} // namespace

QString UngroupedName()
{
    return QStringLiteral("未分组");
}

CatalogueStore &GetCatalogueStore()
{
    if (!Store) {
        if (!databaseAddress.isEmpty())
            Store = std::make_unique<PgStore>(databaseAddress);
        else
            Store = std::make_unique<IniStore>(iniFileOverride.isEmpty() ? defaultIniFileName() : iniFileOverride);
        ConnectCatalogueEvents(*Store);
        // A store holds its connection until the application ends, not past it.
        static bool releaseRegistered = false;
        if (QCoreApplication::instance() && !std::exchange(releaseRegistered, true))
            qAddPostRoutine([] { Store.reset(); });
    }
    return *Store;
}

IniFile &GetIniFile()
{
    auto *ini = dynamic_cast<IniStore *>(&GetCatalogueStore());
    if (!ini)
        throw AppError(QStringLiteral("服务器目录在数据库中，没有服务器列表文件。"));
    return ini->file();
}

QString ServerListFilePath()
{
    return GetCatalogueStore().location();
}

bool CatalogueInDatabase()
{
    return !databaseAddress.isEmpty();
}

void ReleaseCatalogue()
{
    Store.reset();
    SvrGroups.reset();
    SvrList.reset();
    MaxGroupID = 0;
    MaxServerId = 0;
    loadProblems.clear();
}

void UseIniFile(const QString &fileName)
{
    ReleaseCatalogue();
    iniFileOverride = fileName;
    databaseAddress.clear();
}

void UseDatabase(const QString &address)
{
    ReleaseCatalogue();
    databaseAddress = address;
}

void LoadGroups()
{
    if (!SvrGroups)
        SvrGroups = std::make_unique<TSvrGroups>();
    for (TSvrGroup &group : GetCatalogueStore().readGroups(MaxGroupID))
        SvrGroups->Add(std::make_unique<TSvrGroup>(std::move(group)));
}

void LoadServers()
{
    if (!SvrList)
        SvrList = std::make_unique<TSvrList>();
    CatalogueStore &store = GetCatalogueStore();
    std::vector<TSvrItem> servers = store.readServers(MaxServerId);
    loadProblems += store.takeLoadProblems();
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

TSvrGroups &GetSvrGroups()
{
    if (!SvrGroups)
        LoadGroups();
    return *SvrGroups;
}

TSvrList &GetSvrList()
{
    if (!SvrList)
        LoadServers();
    return *SvrList;
}

QString TakeLoadWarning()
{
    if (loadProblems.isEmpty())
        return {};
    const QString text = QStringLiteral("以下服务器保存的密码无法读取，已按空密码载入，请重新设置密码：\n%1")
                             .arg(loadProblems.join(QLatin1Char('\n')));
    loadProblems.clear();
    return text;
}

void WriteSvrItem(const TSvrItem &item)
{
    if (!GetCatalogueStore().writeServer(item))
        throw EServerGone(item.Id);
}

TSvrGroup GetGroup(int groupId)
{
    if (const TSvrGroup *group = findGroup(groupId))
        return *group;
    return TSvrGroup{UngroupedId, UngroupedName()};
}

int GetGroupIdByName(const QString &name)
{
    int found = UngroupedId;
    for (const auto &group : GetSvrGroups())
        if (QString::localeAwareCompare(group->GroupName, name) == 0)
            found = group->GroupId;
    return found;
}

int AddGroup(const QString &name)
{
    TSvrGroups &groups = GetSvrGroups();
    const int id = GetCatalogueStore().addGroup(name, MaxGroupID);
    MaxGroupID = std::max(MaxGroupID, id);
    groups.Add(std::make_unique<TSvrGroup>(TSvrGroup{id, name}));
    return id;
}

int RegisterGroup(const TSvrGroup &group)
{
    TSvrGroups &groups = GetSvrGroups();
    MaxGroupID = GetCatalogueStore().registerGroup(group, MaxGroupID);
    groups.Add(std::make_unique<TSvrGroup>(group));
    return MaxGroupID;
}

void RenameGroup(int groupId, const QString &name)
{
    // Renaming a group that is not in the catalogue would only write a section no load reads.
    TSvrGroup *group = findGroup(groupId);
    if (!group)
        return;
    GetCatalogueStore().renameGroup(group->GroupId, name);
    group->GroupName = name;
}

bool GroupHasServers(int groupId)
{
    const TSvrList &servers = GetSvrList();
    return std::any_of(servers.begin(), servers.end(), [&](const auto &s) { return s->Group.GroupId == groupId; });
}

void DeleteGroup(int groupId)
{
    TSvrGroups &groups = GetSvrGroups();
    GetCatalogueStore().deleteGroup(groupId);
    groups.Remove(findGroup(groupId));
}

PSvrItem AddSvrItem(const TClientSettings &settings, int groupId, const QString &description)
{
    TSvrItem server;
    server.ClntSett = settings;
    server.Description = description;
    return AddSvrItems(std::span(&server, 1), groupId).front();
}

std::vector<PSvrItem> AddSvrItems(std::span<const TSvrItem> servers, int groupId)
{
    std::vector<TSvrItem> made(servers.begin(), servers.end());
    for (TSvrItem &item : made)
        item.Group.GroupId = groupId;
    return AddSvrItemsToGroups(made);
}

std::vector<PSvrItem> AddSvrItemsToGroups(std::span<const TSvrItem> servers)
{
    if (servers.empty())
        return {};
    TSvrList &list = GetSvrList();
    std::vector<TSvrItem> made(servers.begin(), servers.end());
    for (TSvrItem &item : made)
        item.Group = GetGroup(item.Group.GroupId);
    const std::vector<int> ids = GetCatalogueStore().addServers(made, MaxServerId);
    std::vector<PSvrItem> added;
    added.reserve(made.size());
    for (size_t i = 0; i < made.size(); ++i) {
        made[i].Id = ids[i];
        MaxServerId = std::max(MaxServerId, ids[i]);
        added.push_back(list.Add(std::make_unique<TSvrItem>(std::move(made[i]))));
    }
    return added;
}

PSvrItem GetSvrItem(int serverId)
{
    for (const auto &server : GetSvrList())
        if (server->Id == serverId)
            return server.get();
    return nullptr;
}

void UpdateSvrItem(int serverId, const TClientSettings &settings, const QString &description)
{
    PSvrItem server = GetSvrItem(serverId);
    if (!server)
        return;
    TSvrItem changed = *server;
    changed.ClntSett = settings;
    changed.Description = description;
    WriteSvrItem(changed);
    *server = std::move(changed);
}

void SetSvrGroup(int serverId, const QString &groupName)
{
    MoveSvrItem(GetSvrItem(serverId), groupName);
}

void MoveSvrItem(PSvrItem server, const QString &groupName)
{
    if (!server)
        return;
    const int groupId = GetGroupIdByName(groupName);
    GetCatalogueStore().setServerGroup(server->Id, groupId);
    server->Group = TSvrGroup{groupId, groupName};
}

void DeleteSvrItem(PSvrItem server)
{
    if (!server)
        return;
    TSvrList &servers = GetSvrList();
    GetCatalogueStore().deleteServer(server->Id);
    servers.Remove(server);
}

int IndexOfInt(int value, std::span<const int> values)
{
    const auto it = std::find(values.begin(), values.end(), value);
    return it == values.end() ? -1 : int(it - values.begin());
}
