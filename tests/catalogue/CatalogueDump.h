#pragma once

#include "RdpCommon.h"

#include <QString>
#include <QStringList>

// Settings of a test server: the address and password given, user "admin".
inline TClientSettings TestSettings(const QString &server, const QString &password = QStringLiteral("pw"))
{
    TClientSettings s;
    s.Server = server;
    s.User = QStringLiteral("admin");
    s.Password = password;
    return s;
}

// One server as one line of text.
inline QString DumpServer(const TSvrItem &s)
{
    const TClientSettings &c = s.ClntSett;
    return QStringLiteral("server %1 [%2 %3] %4:%5 %6\\%7 pw=%8 %9x%10 fs=%11 depth=%12 desc=%13")
        .arg(s.Id)
        .arg(s.Group.GroupId)
        .arg(s.Group.GroupName, c.Server)
        .arg(c.Port)
        .arg(c.Domain, c.User, c.Password)
        .arg(c.Width)
        .arg(c.Height)
        .arg(c.FullScreen ? QStringLiteral("true") : QStringLiteral("false"))
        .arg(c.ColorDepth)
        .arg(s.Description);
}

// The whole catalogue in memory as text, for comparing states.
inline QString DumpCatalogue()
{
    QStringList lines;
    lines << QStringLiteral("counters %1 %2").arg(MaxGroupID).arg(MaxServerId);
    for (const auto &g : GetSvrGroups())
        lines << QStringLiteral("group %1 %2").arg(g->GroupId).arg(g->GroupName);
    for (const auto &s : GetSvrList())
        lines << DumpServer(*s);
    return lines.join(QLatin1Char('\n'));
}

// Releases the catalogue and loads it afresh from the given file.
inline void ReloadCatalogue(const QString &fileName)
{
    UseIniFile(fileName);
    LoadGroups();
    LoadServers();
}
