// Importing 10,000 .rdp files into a catalogue of 10,000 servers: reading and
// checking the files, then adding their servers as any added server is written.
// Usage: import_bench [files]   (default 10,000)
#include "BenchFiles.h"
#include "IniDocument.h"
#include "RdpCommon.h"
#include "RdpFile.h"
#include "ServerImport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kCatalogue = 10000;

double ms(const QElapsedTimer &t) { return t.nsecsElapsed() / 1e6; }

QByteArray makeCatalogue()
{
    IniDocument doc;
    doc.writeInteger(QStringLiteral("MISC"), QStringLiteral("MaxGroupID"), 1);
    doc.writeInteger(QStringLiteral("MISC"), QStringLiteral("MaxServerId"), kCatalogue);
    doc.writeString(QStringLiteral("GroupItem1"), QStringLiteral("GroupName"), QStringLiteral("导入"));
    for (int s = 1; s <= kCatalogue; ++s) {
        const QString section = QStringLiteral("ServerItem%1").arg(s);
        doc.writeInteger(section, QStringLiteral("GroupId"), 1);
        doc.writeString(section, QStringLiteral("Server"), QStringLiteral("existing%1.example.test").arg(s));
        doc.writeString(section, QStringLiteral("User"), QStringLiteral("administrator"));
    }
    return doc.toBytes();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int files = argc > 1 ? QByteArray(argv[1]).toInt() : 10000;
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("rdp"));
    QStringList paths;
    for (int i = 0; i < files; ++i) {
        TClientSettings s;
        s.Server = QStringLiteral("127.%1.%2.%3").arg(i / 65536).arg(i / 256 % 256).arg(i % 256);
        s.User = QStringLiteral("user%1").arg(i);
        s.Domain = QStringLiteral("LAB");
        const QString path = dir.filePath(QStringLiteral("rdp/server %1.rdp").arg(i));
        WriteBenchFile(path, WriteRdpFile(s));
        paths << path;
    }
    UseBenchCatalogue(dir.path(), makeCatalogue());
    LoadGroups();
    LoadServers();

    QElapsedTimer timer;
    timer.start();
    TImportBatch batch = ReadImportFiles(paths);
    DropKnownServers(batch, GetSvrList());
    const double readMs = ms(timer);
    timer.restart();
    const auto added = AddImportedServers(batch, TImportTarget{1, false});
    const double addMs = ms(timer);
    std::printf("catalogue %d servers; %d .rdp files, %d servers imported\n", kCatalogue, files, int(added.size()));
    std::printf("%-40s %8.1f ms  (%.3f ms a file)\n", "read and check the files", readMs, readMs / files);
    std::printf("%-40s %8.1f ms  (%.3f ms a server)\n", "add to the catalogue and the file", addMs, addMs / files);
    std::printf("%-40s %8.1f ms\n", "whole import", readMs + addMs);
    return 0;
}
