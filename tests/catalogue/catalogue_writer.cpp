// Test helper: changes a server list file the way a running copy of the program
// does, reporting each finished change on standard output.
//   catalogue_writer script FILE DONE LAST   runs scripted operations DONE+1 .. LAST
//   catalogue_writer add FILE TAG COUNT      adds COUNT servers described TAG-i
// FILE may be a database's address, postgresql://...
#include "AppError.h"
#include "RdpCommon.h"
#include "ScriptedOperations.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: %s script|add FILE A B\n", argv[0]);
        return 2;
    }
    try {
        if (args[2].startsWith(QLatin1String("postgresql://")))
            UseDatabase(args[2]);
        else
            UseIniFile(args[2]);
        LoadGroups();
        LoadServers();
        if (args[1] == QLatin1String("script")) {
            for (int n = args[3].toInt() + 1; n <= args[4].toInt(); ++n) {
                ApplyScriptedOperation(n);
                std::printf("%d\n", n);
                std::fflush(stdout);
            }
        } else {
            for (int i = 0; i < args[4].toInt(); ++i) {
                TClientSettings s;
                s.Server = QStringLiteral("127.0.0.1");
                AddSvrItem(s, -1, QStringLiteral("%1-%2").arg(args[3]).arg(i));
            }
        }
    } catch (const AppError &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
