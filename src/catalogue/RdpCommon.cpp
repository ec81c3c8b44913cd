#include "RdpCommon.h"

#include "Catalogue.h"

#include <algorithm>

// The operations of the installed catalogue, by the names every caller knows.

std::unique_ptr<TSvrList> &InstalledSvrList()
{
    return Catalogue::Current().SvrList;
}

std::unique_ptr<TSvrGroups> &InstalledSvrGroups()
{
    return Catalogue::Current().SvrGroups;
}

int &InstalledMaxGroupID()
{
    return Catalogue::Current().MaxGroupID;
}

int &InstalledMaxServerId()
{
    return Catalogue::Current().MaxServerId;
}

QString UngroupedName()
{
    return QStringLiteral("未分组");
}

CatalogueStore &GetCatalogueStore()
{
    return Catalogue::Current().Store();
}

QString ServerListFilePath()
{
    return Catalogue::Current().Location();
}

bool CatalogueInDatabase()
{
    return Catalogue::HasCurrent() && Catalogue::Current().Shared();
}

void ReleaseCatalogue()
{
    Catalogue::ReleaseCurrent();
}

void LoadGroups()
{
    Catalogue::Current().LoadGroups();
}

void LoadServers()
{
    Catalogue::Current().LoadServers();
}

TSvrGroups &GetSvrGroups()
{
    return Catalogue::Current().GetSvrGroups();
}

TSvrList &GetSvrList()
{
    return Catalogue::Current().GetSvrList();
}

QString TakeLoadWarning()
{
    return Catalogue::Current().TakeLoadWarning();
}

void WriteSvrItem(const TSvrItem &item)
{
    Catalogue::Current().WriteSvrItem(item);
}

TSvrGroup GetGroup(int groupId)
{
    return Catalogue::Current().GetGroup(groupId);
}

int GetGroupIdByName(const QString &name)
{
    return Catalogue::Current().GetGroupIdByName(name);
}

int AddGroup(const QString &name)
{
    return Catalogue::Current().AddGroup(name);
}

int RegisterGroup(const TSvrGroup &group)
{
    return Catalogue::Current().RegisterGroup(group);
}

void RenameGroup(int groupId, const QString &name)
{
    Catalogue::Current().RenameGroup(groupId, name);
}

void RenameGroup(int groupId, const QString &name, int version)
{
    Catalogue::Current().RenameGroup(groupId, name, version);
}

int GroupVersion(int groupId)
{
    return Catalogue::Current().GroupVersion(groupId);
}

int SvrItemVersion(int serverId)
{
    return Catalogue::Current().SvrItemVersion(serverId);
}

bool GroupHasServers(int groupId)
{
    return Catalogue::Current().GroupHasServers(groupId);
}

void DeleteGroup(int groupId)
{
    Catalogue::Current().DeleteGroup(groupId);
}

PSvrItem AddSvrItem(const TClientSettings &settings, int groupId, const QString &description)
{
    return Catalogue::Current().AddSvrItem(settings, groupId, description);
}

std::vector<PSvrItem> AddSvrItems(std::span<const TSvrItem> servers, int groupId)
{
    return Catalogue::Current().AddSvrItems(servers, groupId);
}

std::vector<PSvrItem> AddSvrItemsToGroups(std::span<const TSvrItem> servers)
{
    return Catalogue::Current().AddSvrItemsToGroups(servers);
}

PSvrItem GetSvrItem(int serverId)
{
    return Catalogue::Current().GetSvrItem(serverId);
}

void UpdateSvrItem(int serverId, const TClientSettings &settings, const QString &description)
{
    Catalogue::Current().UpdateSvrItem(serverId, settings, description);
}

void UpdateSvrItem(int serverId, const TClientSettings &settings, const QString &description, int version)
{
    Catalogue::Current().UpdateSvrItem(serverId, settings, description, version);
}

void SetSvrGroup(int serverId, const QString &groupName)
{
    Catalogue::Current().SetSvrGroup(serverId, groupName);
}

void MoveSvrItem(PSvrItem server, const QString &groupName)
{
    Catalogue::Current().MoveSvrItem(server, groupName);
}

void DeleteSvrItem(PSvrItem server)
{
    Catalogue::Current().DeleteSvrItem(server);
}

int IndexOfInt(int value, std::span<const int> values)
{
    const auto it = std::find(values.begin(), values.end(), value);
    return it == values.end() ? -1 : int(it - values.begin());
}
