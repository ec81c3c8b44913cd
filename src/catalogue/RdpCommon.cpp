#include "RdpCommon.h"

#include "AppError.h"
#include "Encrypt.h"
#include "IniFile.h"
#include "ServerListLocation.h"

#include <QCoreApplication>
#include <QHash>
#include <QFileInfo>

#include <algorithm>
#include <climits>

// Declared in this order so that the process releases them in the reverse one:
// the file handle first, then the groups, then the servers.
std::unique_ptr<TSvrList> SvrList;
std::unique_ptr<TSvrGroups> SvrGroups;
int MaxGroupID = 0;
int MaxServerId = 0;

namespace {

std::unique_ptr<IniFile> SvrIniFile;
QString iniFileOverride;
QStringList undecodablePasswords;

const QString kMisc = QStringLiteral("MISC");
const QString kMaxGroupId = QStringLiteral("MaxGroupID");
const QString kMaxServerId = QStringLiteral("MaxServerId");
const QString kGroupPrefix = QStringLiteral("GroupItem");
const QString kServerPrefix = QStringLiteral("ServerItem");
const QString kGroupName = QStringLiteral("GroupName");
const QString kGroupId = QStringLiteral("GroupId");

QString groupSection(int id) { return kGroupPrefix + QString::number(id); }
QString serverSection(int id) { return kServerPrefix + QString::number(id); }

QString defaultIniFileName()
{
    const QString dir = QCoreApplication::instance()
        ? QCoreApplication::applicationDirPath()
        : QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath();
    return DefaultServerListFile(dir);
}

// The ids n in 0..maxId for which the file has a section named prefix + n, ascending
// (none when maxId is negative). Only the present sections are looked at, so a
// huge counter costs nothing.
std::vector<int> sectionIds(const IniDocument &doc, const QString &prefix, int maxId)
{
    std::vector<int> ids;
    for (const QString &name : doc.sectionNames()) {
        if (!name.startsWith(prefix, Qt::CaseInsensitive))
            continue;
        const QString suffix = name.mid(prefix.size());
        bool ok = false;
        const int id = suffix.toInt(&ok);
        if (ok && id >= 0 && id <= maxId && QString::number(id) == suffix)
            ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

// The next id past both the counter we hold and the one in the file now, so that
// two running copies of the program never hand out the same id.
int nextId(int held, int inFile)
{
    const int highest = std::max({held, inFile, 0});
    if (highest == INT_MAX)
        throw AppError(QStringLiteral("编号已用尽，无法再添加。"));
    return highest + 1;
}

TSvrGroup *findGroup(int groupId)
{
    for (const auto &group : GetSvrGroups())
        if (group->GroupId == groupId)
            return group.get();
    return nullptr;
}

void writeSvrKeys(IniDocument &doc, const TSvrItem &item)
{
    const QString section = serverSection(item.Id);
    const TClientSettings &s = item.ClntSett;
    doc.writeInteger(section, kGroupId, item.Group.GroupId);
    doc.writeString(section, QStringLiteral("Description"), item.Description);
    doc.writeString(section, QStringLiteral("Server"), s.Server);
    doc.writeInteger(section, QStringLiteral("Port"), s.Port);
    doc.writeString(section, QStringLiteral("Domain"), s.Domain);
    doc.writeString(section, QStringLiteral("User"), s.User);
    doc.writeString(section, QStringLiteral("Password"), EncryptStr(s.Password));
    doc.writeInteger(section, QStringLiteral("Width"), s.Width);
    doc.writeInteger(section, QStringLiteral("Height"), s.Height);
    doc.writeBool(section, QStringLiteral("FullScreen"), s.FullScreen);
    doc.writeInteger(section, QStringLiteral("ColorDeepth"), s.ColorDepth);
}

// The name of each loaded group by its id, the first group of an id winning as in GetGroup.
using GroupNames = QHash<int, QString>;

GroupNames groupNames()
{
    GroupNames names;
    for (const auto &group : GetSvrGroups())
        if (!names.contains(group->GroupId))
            names.insert(group->GroupId, group->GroupName);
    return names;
}

std::unique_ptr<TSvrItem> readSvrItem(const IniDocument &doc, int id, const GroupNames &groups)
{
    const QString section = serverSection(id);
    auto item = std::make_unique<TSvrItem>();
    item->Id = id;
    item->Description = doc.readString(section, QStringLiteral("Description"), {});
    TClientSettings &s = item->ClntSett;
    s.Server = doc.readString(section, QStringLiteral("Server"), {});
    s.Port = doc.readInteger(section, QStringLiteral("Port"), 3389);
    s.Domain = doc.readString(section, QStringLiteral("Domain"), {});
    s.User = doc.readString(section, QStringLiteral("User"), {});
    s.Width = doc.readInteger(section, QStringLiteral("Width"), 1024);
    s.Height = doc.readInteger(section, QStringLiteral("Height"), 768);
    s.FullScreen = doc.readBool(section, QStringLiteral("FullScreen"), false);
    s.ColorDepth = doc.readInteger(section, QStringLiteral("ColorDeepth"), 24);
    try {
        s.Password = DecryptStr(doc.readString(section, QStringLiteral("Password"), {}));
    } catch (const EConvertError &) {
        undecodablePasswords.append(QStringLiteral("%1 (%2)").arg(s.Server, section));
    }
    item->Group.GroupId = doc.readInteger(section, kGroupId, UngroupedId);
    const auto group = groups.constFind(item->Group.GroupId);
    item->Group.GroupName = group == groups.constEnd() ? UngroupedName() : *group;
    return item;
}

} // namespace

QString UngroupedName()
{
    return QStringLiteral("未分组");
}

IniFile &GetIniFile()
{
    if (!SvrIniFile)
        SvrIniFile = std::make_unique<IniFile>(iniFileOverride.isEmpty() ? defaultIniFileName() : iniFileOverride);
    return *SvrIniFile;
}

QString ServerListFilePath()
{
    return GetIniFile().fileName();
}

void ReleaseCatalogue()
{
    SvrIniFile.reset();
    SvrGroups.reset();
    SvrList.reset();
    MaxGroupID = 0;
    MaxServerId = 0;
    undecodablePasswords.clear();
}

void UseIniFile(const QString &fileName)
{
    ReleaseCatalogue();
    iniFileOverride = fileName;
}

void LoadGroups()
{
    if (!SvrGroups)
        SvrGroups = std::make_unique<TSvrGroups>();
    const IniDocument &doc = GetIniFile().current();
    MaxGroupID = doc.readInteger(kMisc, kMaxGroupId, 0);
    for (int id : sectionIds(doc, kGroupPrefix, MaxGroupID))
        SvrGroups->Add(std::make_unique<TSvrGroup>(TSvrGroup{id, doc.readString(groupSection(id), kGroupName, {})}));
}

void LoadServers()
{
    if (!SvrList)
        SvrList = std::make_unique<TSvrList>();
    const IniDocument &doc = GetIniFile().current();
    MaxServerId = doc.readInteger(kMisc, kMaxServerId, 0);
    const GroupNames groups = groupNames();
    for (int id : sectionIds(doc, kServerPrefix, MaxServerId))
        SvrList->Add(readSvrItem(doc, id, groups));
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
    if (undecodablePasswords.isEmpty())
        return {};
    const QString text = QStringLiteral("以下服务器保存的密码无法读取，已按空密码载入，请重新设置密码：\n%1")
                             .arg(undecodablePasswords.join(QLatin1Char('\n')));
    undecodablePasswords.clear();
    return text;
}

void WriteSvrItem(const TSvrItem &item)
{
    GetIniFile().update([&](IniDocument &doc) { writeSvrKeys(doc, item); });
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
    int id = 0;
    GetIniFile().update([&](IniDocument &doc) {
        id = nextId(MaxGroupID, doc.readInteger(kMisc, kMaxGroupId, 0));
        doc.writeString(groupSection(id), kGroupName, name);
        doc.writeInteger(kMisc, kMaxGroupId, id);
    });
    MaxGroupID = id;
    groups.Add(std::make_unique<TSvrGroup>(TSvrGroup{id, name}));
    return id;
}

int RegisterGroup(const TSvrGroup &group)
{
    TSvrGroups &groups = GetSvrGroups();
    int counter = MaxGroupID;
    GetIniFile().update([&](IniDocument &doc) {
        counter = std::max(MaxGroupID, doc.readInteger(kMisc, kMaxGroupId, 0));
        if (group.GroupId > counter) {
            counter = group.GroupId;
            doc.writeInteger(kMisc, kMaxGroupId, counter);
        }
        doc.writeString(groupSection(group.GroupId), kGroupName, group.GroupName);
    });
    MaxGroupID = counter;
    groups.Add(std::make_unique<TSvrGroup>(group));
    return MaxGroupID;
}

void RenameGroup(int groupId, const QString &name)
{
    // Renaming a group that is not in the catalogue would only write a section no load reads.
    TSvrGroup *group = findGroup(groupId);
    if (!group)
        return;
    GetIniFile().update([&](IniDocument &doc) { doc.writeString(groupSection(group->GroupId), kGroupName, name); });
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
    GetIniFile().update([&](IniDocument &doc) { doc.eraseSection(groupSection(groupId)); });
    groups.Remove(findGroup(groupId));
}

PSvrItem AddSvrItem(const TClientSettings &settings, int groupId, const QString &description)
{
    TSvrList &servers = GetSvrList();
    auto item = std::make_unique<TSvrItem>();
    item->ClntSett = settings;
    item->Group = GetGroup(groupId);
    item->Description = description;
    GetIniFile().update([&](IniDocument &doc) {
        item->Id = nextId(MaxServerId, doc.readInteger(kMisc, kMaxServerId, 0));
        writeSvrKeys(doc, *item);
        doc.writeInteger(kMisc, kMaxServerId, item->Id);
    });
    MaxServerId = item->Id;
    return servers.Add(std::move(item));
}

std::vector<PSvrItem> AddSvrItems(std::span<const TSvrItem> servers, int groupId)
{
    if (servers.empty())
        return {};
    TSvrList &list = GetSvrList();
    const TSvrGroup group = GetGroup(groupId);
    std::vector<std::unique_ptr<TSvrItem>> made;
    GetIniFile().update([&](IniDocument &doc) {
        made.clear();
        const int inFile = doc.readInteger(kMisc, kMaxServerId, 0);
        int id = MaxServerId;
        for (const TSvrItem &server : servers) {
            auto item = std::make_unique<TSvrItem>(server);
            item->Group = group;
            item->Id = id = nextId(id, inFile);
            writeSvrKeys(doc, *item);
            made.push_back(std::move(item));
        }
        doc.writeInteger(kMisc, kMaxServerId, id);
    });
    MaxServerId = made.back()->Id;
    std::vector<PSvrItem> added;
    added.reserve(made.size());
    for (auto &item : made)
        added.push_back(list.Add(std::move(item)));
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
    GetIniFile().update([&](IniDocument &doc) {
        // A server that another copy of the program has deleted meanwhile is not
        // brought back as a section holding nothing but its group.
        const QString section = serverSection(server->Id);
        if (doc.hasSection(section))
            doc.writeInteger(section, kGroupId, groupId);
    });
    server->Group = TSvrGroup{groupId, groupName};
}

void DeleteSvrItem(PSvrItem server)
{
    if (!server)
        return;
    TSvrList &servers = GetSvrList();
    GetIniFile().update([&](IniDocument &doc) { doc.eraseSection(serverSection(server->Id)); });
    servers.Remove(server);
}

int IndexOfInt(int value, std::span<const int> values)
{
    const auto it = std::find(values.begin(), values.end(), value);
    return it == values.end() ? -1 : int(it - values.begin());
}
