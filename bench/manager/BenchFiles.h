#pragma once

#include "IniDocument.h"
#include "RdpCommon.h"

#include <QDir>
#include <QFile>

// Writes a file for a benchmark; a benchmark that cannot write its files stops.
inline void WriteBenchFile(const QString &path, const QByteArray &bytes)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// Puts the catalogue's bytes into "SvrList.ini" in the folder and uses that file.
inline void UseBenchCatalogue(const QString &folder, const QByteArray &catalogue)
{
    const QString file = QDir(folder).filePath(QStringLiteral("SvrList.ini"));
    WriteBenchFile(file, catalogue);
    UseIniFile(file);
}

// The manager's benchmark catalogue: 10,000 servers in 100 groups, of which group 1
// holds servers 1 to 1,000 and the others share the rest.
inline constexpr int ManagerBenchServers = 10000;
inline constexpr int ManagerBenchGroups = 100;
inline constexpr int ManagerBenchLargeGroup = 1000;

inline QByteArray ManagerBenchCatalogue()
{
    const auto groupOf = [](int server) {
        return server <= ManagerBenchLargeGroup ? 1
                                                : 2 + (server - ManagerBenchLargeGroup) % (ManagerBenchGroups - 1);
    };
    IniDocument doc;
    doc.writeInteger(QStringLiteral("MISC"), QStringLiteral("MaxGroupID"), ManagerBenchGroups);
    doc.writeInteger(QStringLiteral("MISC"), QStringLiteral("MaxServerId"), ManagerBenchServers);
    for (int g = 1; g <= ManagerBenchGroups; ++g)
        doc.writeString(QStringLiteral("GroupItem%1").arg(g), QStringLiteral("GroupName"), QStringLiteral("组 %1").arg(g));
    for (int s = 1; s <= ManagerBenchServers; ++s) {
        const QString section = QStringLiteral("ServerItem%1").arg(s);
        doc.writeInteger(section, QStringLiteral("GroupId"), groupOf(s));
        doc.writeString(section, QStringLiteral("Server"), QStringLiteral("127.0.%1.%2").arg(s / 250).arg(s % 250 + 1));
        doc.writeString(section, QStringLiteral("User"), QStringLiteral("administrator"));
        doc.writeString(section, QStringLiteral("Description"), QStringLiteral("机柜 %1").arg(s % 40));
    }
    return doc.toBytes();
}
