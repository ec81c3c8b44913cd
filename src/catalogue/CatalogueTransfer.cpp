#include "CatalogueTransfer.h"

#include "IniStore.h"
#include "PgStore.h"

#include <QHash>

#include <algorithm>

QString CatalogueCopySummary::text(const QString &from, const QString &to) const
{
    QString summary = QStringLiteral("已从 %1 复制到 %2：%3 个组，%4 台服务器，%5 个密码。")
                          .arg(from, to)
                          .arg(groups)
                          .arg(servers)
                          .arg(passwords);
    if (groupsRenumbered || serversRenumbered)
        summary += QStringLiteral("\n编号已被占用而换了新编号的：%1 个组，%2 台服务器。").arg(groupsRenumbered).arg(serversRenumbered);
    return summary;
}

CatalogueCopySummary ImportIniIntoDatabase(const QString &iniFile, const QString &database)
{
    IniStore file(iniFile);
    int counter = 0;
    const std::vector<TSvrGroup> groups = file.readGroups(counter);
    std::vector<TSvrItem> servers = file.readServers(counter);
    PgStore db(database);
    db.readGroups(counter); // connects, and makes the tables of a new database

    CatalogueCopySummary summary;
    const std::vector<int> groupIds = db.insertGroupsKeepingIds(groups);
    QHash<int, int> newGroupId;
    for (size_t i = 0; i < groups.size(); ++i) {
        newGroupId.insert(groups[i].GroupId, groupIds[i]);
        summary.groupsRenumbered += groupIds[i] != groups[i].GroupId;
    }
    for (TSvrItem &server : servers)
        server.Group.GroupId = newGroupId.value(server.Group.GroupId, server.Group.GroupId);
    const std::vector<int> serverIds = db.insertServersKeepingIds(servers);
    for (size_t i = 0; i < servers.size(); ++i)
        summary.serversRenumbered += serverIds[i] != servers[i].Id;
    summary.groups = int(groups.size());
    summary.servers = int(servers.size());
    summary.passwords = int(std::count_if(servers.begin(), servers.end(),
                                          [](const TSvrItem &s) { return !s.ClntSett.Password.isEmpty(); }));
    return summary;
}

CatalogueCopySummary ExportDatabaseToIni(const QString &database, const QString &iniFile)
{
    PgStore db(database);
    int maxGroupId = 0;
    int maxServerId = 0;
    const std::vector<TSvrGroup> groups = db.readGroups(maxGroupId);
    const std::vector<TSvrItem> servers = db.readServers(maxServerId);
    IniStore(iniFile).writeWhole(groups, servers, maxGroupId, maxServerId);
    CatalogueCopySummary summary;
    summary.groups = int(groups.size());
    summary.servers = int(servers.size());
    summary.passwords = int(std::count_if(servers.begin(), servers.end(),
                                          [](const TSvrItem &s) { return !s.ClntSett.Password.isEmpty(); }));
    return summary;
}
