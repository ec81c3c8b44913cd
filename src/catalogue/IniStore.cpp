#include "IniStore.h"

#include "AppError.h"
#include "Encrypt.h"

#include <algorithm>
#include <climits>

namespace {

const QString kMisc = QStringLiteral("MISC");
const QString kMaxGroupId = QStringLiteral("MaxGroupID");
const QString kMaxServerId = QStringLiteral("MaxServerId");
const QString kGroupPrefix = QStringLiteral("GroupItem");
const QString kServerPrefix = QStringLiteral("ServerItem");
const QString kGroupName = QStringLiteral("GroupName");
const QString kGroupId = QStringLiteral("GroupId");

QString groupSection(int id) { return kGroupPrefix + QString::number(id); }
QString serverSection(int id) { return kServerPrefix + QString::number(id); }

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

} // namespace

IniStore::IniStore(const QString &fileName) : file_(fileName) {}

std::vector<TSvrGroup> IniStore::readGroups(int &maxGroupId)
{
    const IniDocument &doc = file_.current();
    maxGroupId = doc.readInteger(kMisc, kMaxGroupId, 0);
    std::vector<TSvrGroup> groups;
    for (int id : sectionIds(doc, kGroupPrefix, maxGroupId))
        groups.push_back(TSvrGroup{id, doc.readString(groupSection(id), kGroupName, {})});
    return groups;
}

std::vector<TSvrItem> IniStore::readServers(int &maxServerId)
{
    const IniDocument &doc = file_.current();
    maxServerId = doc.readInteger(kMisc, kMaxServerId, 0);
    std::vector<TSvrItem> servers;
    for (int id : sectionIds(doc, kServerPrefix, maxServerId)) {
        const QString section = serverSection(id);
        TSvrItem &item = servers.emplace_back();
        item.Id = id;
        item.Description = doc.readString(section, QStringLiteral("Description"), {});
        TClientSettings &s = item.ClntSett;
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
            undecodablePasswords_.append(QStringLiteral("%1 (%2)").arg(s.Server, section));
        }
        item.Group.GroupId = doc.readInteger(section, kGroupId, UngroupedId);
    }
    return servers;
}

QStringList IniStore::takeLoadProblems()
{
    return std::exchange(undecodablePasswords_, {});
}

int IniStore::addGroup(const QString &name, int heldMax)
{
    int id = 0;
    file_.update([&](IniDocument &doc) {
        id = nextId(heldMax, doc.readInteger(kMisc, kMaxGroupId, 0));
        doc.writeString(groupSection(id), kGroupName, name);
        doc.writeInteger(kMisc, kMaxGroupId, id);
    });
    return id;
}

int IniStore::registerGroup(const TSvrGroup &group, int heldMax)
{
    int counter = heldMax;
    file_.update([&](IniDocument &doc) {
        counter = std::max(heldMax, doc.readInteger(kMisc, kMaxGroupId, 0));
        if (group.GroupId > counter) {
            counter = group.GroupId;
            doc.writeInteger(kMisc, kMaxGroupId, counter);
        }
        doc.writeString(groupSection(group.GroupId), kGroupName, group.GroupName);
    });
    return counter;
}

void IniStore::renameGroup(int groupId, const QString &name)
{
    file_.update([&](IniDocument &doc) { doc.writeString(groupSection(groupId), kGroupName, name); });
}

void IniStore::deleteGroup(int groupId)
{
    file_.update([&](IniDocument &doc) { doc.eraseSection(groupSection(groupId)); });
}

std::vector<int> IniStore::addServers(std::span<const TSvrItem> servers, int heldMax)
{
    std::vector<int> ids;
    file_.update([&](IniDocument &doc) {
        ids.clear();
        const int inFile = doc.readInteger(kMisc, kMaxServerId, 0);
        int id = heldMax;
        for (const TSvrItem &server : servers) {
            TSvrItem item = server;
            item.Id = id = nextId(id, inFile);
            writeSvrKeys(doc, item);
            ids.push_back(id);
        }
        doc.writeInteger(kMisc, kMaxServerId, id);
    });
    return ids;
}

bool IniStore::writeServer(const TSvrItem &server)
{
    file_.update([&](IniDocument &doc) { writeSvrKeys(doc, server); });
    return true;
}

void IniStore::setServerGroup(int serverId, int groupId)
{
    file_.update([&](IniDocument &doc) {
        // A server that another copy of the program has deleted meanwhile is not
        // brought back as a section holding nothing but its group.
        const QString section = serverSection(serverId);
        if (doc.hasSection(section))
            doc.writeInteger(section, kGroupId, groupId);
    });
}

void IniStore::deleteServer(int serverId)
{
    file_.update([&](IniDocument &doc) { doc.eraseSection(serverSection(serverId)); });
}

void IniStore::writeWhole(std::span<const TSvrGroup> groups, std::span<const TSvrItem> servers, int maxGroupId,
                          int maxServerId)
{
    file_.update([&](IniDocument &doc) {
        if (!doc.sectionNames().isEmpty())
            throw AppError(QStringLiteral("文件 %1 已有内容，不会覆盖它；请选一个新文件。").arg(file_.fileName()));
        doc.writeInteger(kMisc, kMaxGroupId, maxGroupId);
        doc.writeInteger(kMisc, kMaxServerId, maxServerId);
        for (const TSvrGroup &group : groups)
            doc.writeString(groupSection(group.GroupId), kGroupName, group.GroupName);
        for (const TSvrItem &server : servers)
            writeSvrKeys(doc, server);
    });
}
