// The manager with 10,000 servers in 100 groups (one of them holding 1,000):
// time to fill the list, to collapse and expand the large group, and the GUI
// thread's busy share while every poller runs. Offscreen unless a display is chosen.
#include "BenchFiles.h"
#include "MgmtForm.h"
#include "PingEngine.h"
#include "RdpCommon.h"
#include "ServerListModel.h"
#include "ServerListView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kWatchSeconds = 20;

double ms(const QElapsedTimer &t) { return t.nsecsElapsed() / 1e6; }

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    UseBenchCatalogue(dir.path(), ManagerBenchCatalogue());

    TfrmMgmt form;
    form.resize(1024, 768);
    QElapsedTimer timer;
    timer.start();
    form.show(); // loads the catalogue and fills the list
    const double showMs = ms(timer);
    std::printf("servers %d in %d groups; ICMP %s\n", GetSvrList().Count(), GetSvrGroups().Count(),
                PingEngine::shared()->icmpAvailable() ? "available" : "unavailable, TCP fallback");
    std::printf("%-40s %8.1f ms\n", "show (load + fill)", showMs);

    std::vector<double> fills;
    for (int i = 0; i < 5; ++i) {
        timer.restart();
        form.RefreshSvrList();
        fills.push_back(ms(timer));
    }
    std::printf("%-40s %8.1f ms  (target < 500)\n", "fill the list again (median of 5)", median(fills));

    ServerListModel *list = form.findChild<TServerListView *>(QStringLiteral("lvSvr"))->List();
    TGroupItem *large = FindGroupRow(list, 1);
    std::vector<double> collapses, expands;
    for (int i = 0; i < 5; ++i) {
        timer.restart();
        large->Collapse();
        QCoreApplication::processEvents();
        collapses.push_back(ms(timer));
        timer.restart();
        large->Expand();
        QCoreApplication::processEvents();
        expands.push_back(ms(timer));
    }
    std::printf("%-40s %8.1f ms  (target < 50)\n", "collapse a group of 1,000 (median of 5)", median(collapses));
    std::printf("%-40s %8.1f ms  (target < 50)\n", "expand a group of 1,000 (median of 5)", median(expands));

    // Busy share: the CPU time of the GUI thread itself over the watch.
    const auto guiThreadCpu = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return t.tv_sec + t.tv_nsec / 1e9;
    };
    int online = 0;
    QTimer::singleShot(kWatchSeconds * 1000, &app, [&] {
        for (int i = 0; i < list->RowCount(); ++i)
            online += list->index(i, ColStatus).data().toString() == QLatin1String("Online");
        app.quit();
    });
    const double cpuBefore = cpuSeconds();
    const double guiBefore = guiThreadCpu();
    timer.restart();
    app.exec();
    const double wall = ms(timer) / 1000;
    std::printf("%-40s %8.2f %%  (target < 5)\n", "GUI thread busy while polling", 100.0 * (guiThreadCpu() - guiBefore) / wall);
    std::printf("%-40s %8.2f %% of one core\n", "whole process CPU while polling", 100.0 * (cpuSeconds() - cpuBefore) / wall);
    std::printf("%-40s %8d of %d\n", "rows Online after the watch", online, ManagerBenchServers);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%-40s %8.1f MB\n", "peak resident memory", usage.ru_maxrss / 1024.0);
    return 0;
}
