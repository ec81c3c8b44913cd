// The manager's heap per server: the catalogue of manager_bench, filled into the
// server list stage by stage, with the heap in use after each stage and the
// bytes each stage adds per server. Stages: the catalogue's records loaded, the
// rows and their objects made in the list with their pollers started, the
// first probes answered, the list painted, and the list emptied again. Also the sizes of the per-server objects. Offscreen unless a display
// is chosen.
//
// All threads allocate from one arena here, so that what the probing thread
// keeps per target is counted too; blocks the allocator maps on their own
// (large arrays) are counted with the rest.
#include "BenchFiles.h"
#include "GroupListItems.h"
#include "IniFile.h"
#include "PingEngine.h"
#include "PingThread.h"
#include "RdpCommon.h"
#include "ServerListModel.h"
#include "ServerListView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <malloc.h>
#include <vector>

namespace {

constexpr int kServers = ManagerBenchServers;
constexpr int kProbeWaitMs = 2500;

long long heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long long>(info.uordblks + info.hblkhd);
}

// Prints the heap in use and what the stage added, in all and per server.
class Stages {
public:
    Stages() : fLast(heapInUse()) { std::printf("%-34s %12s %12s %10s\n", "stage", "heap bytes", "added", "per server"); }
    // Returns the heap in use now.
    long long note(const char *stage)
    {
        const long long now = heapInUse();
        std::printf("%-34s %12lld %12lld %10.1f\n", stage, now, now - fLast, double(now - fLast) / kServers);
        fLast = now;
        return now;
    }

private:
    long long fLast;
};

void settle(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

} // namespace

int main(int argc, char *argv[])
{
    mallopt(M_ARENA_MAX, 1);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    UseBenchCatalogue(dir.path(), ManagerBenchCatalogue());
    std::printf("sizes: TSvrItem %zu, TItem %zu, TPingThread %zu bytes\n", sizeof(TSvrItem), sizeof(TItem),
                sizeof(TPingThread));

    // Shown and painted empty first, so that what showing costs whatever the
    // rows is not counted with them; filled as the manager fills it.
    ServerListModel model;
    TServerListView list(nullptr);
    list.SetModels(&model);
    list.resize(1024, 768);
    list.show();
    PingEngine::shared();
    settle(200);

    Stages stages;
    GetIniFile().current();
    const long long fileHeld = stages.note("file read and held");
    LoadGroups();
    LoadServers();
    stages.note("records loaded");

    QElapsedTimer timer;
    timer.start();
    list.setUpdatesEnabled(false);
    FillServerRows(&model, GetSvrList());
    const double rowsMs = double(timer.nsecsElapsed()) / 1e6;
    stages.note("rows made, pollers started");

    settle(kProbeWaitMs);
    stages.note("first probes answered");

    list.setUpdatesEnabled(true);
    settle(200);
    const long long painted = stages.note("list painted");

    ClearServerRows(&model);
    settle(200);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    stages.note("list emptied");

    std::printf("\nper server, from the records to the painted list: %.0f bytes (the file held besides: see its line)\n",
                double(painted - fileHeld) / kServers);
    std::printf("%d servers; rows made and pollers started in %.1f ms; probing by %s\n", GetSvrList().Count(), rowsMs,
                qPrintable(PingEngine::shared()->probeKind()));
    return 0;
}
