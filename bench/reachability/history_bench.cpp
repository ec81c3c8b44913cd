// Feeds the reachability history of 10,000 servers with a result a second
// each for 24 hours of virtual time (a hand-set clock), then prints the heap it
// takes per server and in all, how long a result and a tooltip's summary take,
// and what saving and reading back the history file cost.
//
//   history_bench [--servers N] [--hours H]
//
// The servers: nine in ten always up with a wandering latency, one in twenty
// flapping (down 20 s of every 100), one in twenty down, answered every fourth
// second as a host that waits out its time-out.
#include "HistoryCodec.h"
#include "HistoryStore.h"
#include "ReachabilityHistory.h"

#include "../../tests/reachability/ManualClock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <malloc.h>

#include <cstdio>
#include <ctime>

using namespace std::chrono_literals;

namespace {

size_t heapInUse()
{
    return mallinfo2().uordblks;
}

// The calling thread's processor time in ms: what the work costs, whatever
// else the machine runs meanwhile.
double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1000 + double(t.tv_nsec) / 1e6;
}

long argument(const QStringList &args, const QString &name, long fallback)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args[at + 1].toLong() : fallback;
}

void feed(ReachabilityHistory &history, int servers, int second)
{
    for (int id = 1; id <= servers; ++id) {
        if (id % 20 == 0) {
            if (second % 4 == 3)
                history.record(id, false);
        } else if (id % 20 == 1) {
            if ((second + id) % 100 < 80)
                history.record(id, true, 20000 + (second * 7 + id) % 5000);
            else if (second % 4 == 3)
                history.record(id, false);
        } else {
            history.record(id, true, 300 + (second / 60 + id) % 900 + second % 13);
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int servers = int(argument(args, QStringLiteral("--servers"), 10000));
    const int seconds = int(argument(args, QStringLiteral("--hours"), 24) * 3600);

    ManualClock clock;
    const size_t heapBefore = heapInUse();
    double cpu = 0;
    auto history = std::make_unique<ReachabilityHistory>(clock, qint64(1800000000) * 1000);
    QElapsedTimer timer;
    timer.start();
    const double feedCpu = threadCpuMs();
    for (int s = 0; s < seconds; ++s) {
        if (s)
            clock.advance(1s);
        feed(*history, servers, s);
    }
    const double feedNs = (threadCpuMs() - feedCpu) * 1e6 / double(qint64(servers) * seconds);
    const size_t heap = heapInUse() - heapBefore;

    std::printf("servers %d, virtual time %.1f h at 1 Hz\n", servers, seconds / 3600.0);
    std::printf("sizeof(HistoryTrack)      %zu bytes\n", sizeof(HistoryTrack));
    std::printf("heap in use               %.2f MB (%zu bytes), %.0f bytes per server\n", heap / 1048576.0, heap, double(heap) / servers);
    std::printf("record one result         %.1f ns of processor (fed in %.1f s)\n", feedNs, double(timer.elapsed()) / 1000);

    timer.restart();
    cpu = threadCpuMs();
    double sink = 0;
    for (int id = 1; id <= servers; ++id) {
        const ReachabilityHistory::Summary summary = history->summary(id, 30);
        sink += summary.availabilityDay.value_or(0);
    }
    std::printf("summary for a tooltip     %.1f us of processor (mean availability %.4f)\n", (threadCpuMs() - cpu) * 1000 / servers, sink / servers);

    HistoryCodec::Tracks snapshot;
    for (int round = 0; round < 2; ++round) {
        timer.restart();
        cpu = threadCpuMs();
        history->snapshot(snapshot);
        std::printf("snapshot (GUI thread)     %.1f ms, %.1f ms of processor (%s)\n", double(timer.nsecsElapsed()) / 1e6, threadCpuMs() - cpu, round ? "pages ready, as the store hands it" : "fresh pages");
    }
    timer.restart();
    cpu = threadCpuMs();
    const QByteArray key = HistoryStore::catalogueKey(QStringLiteral("bench"));
    const QByteArray bytes = HistoryCodec::encode(snapshot, key, history->nowSecond());
    std::printf("encode (writer thread)    %.1f ms, %.1f ms of processor; file %.2f MB (%.0f bytes per server)\n", double(timer.nsecsElapsed()) / 1e6, threadCpuMs() - cpu, bytes.size() / 1048576.0, double(bytes.size()) / servers);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.bin"));
    {
        HistoryStore store(*history, clock, QStringLiteral("bench"), path);
        timer.restart();
        store.saveNow();
        while (store.writing())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        std::printf("save, whole               %.1f ms\n", double(timer.nsecsElapsed()) / 1e6);
    }
    ReachabilityHistory loaded(clock, history->nowSecond() * 1000);
    HistoryStore store(loaded, clock, QStringLiteral("bench"), path);
    timer.restart();
    cpu = threadCpuMs();
    const bool ok = store.load();
    std::printf("load at start             %.1f ms, %.1f ms of processor (%s, %d servers)\n", double(timer.nsecsElapsed()) / 1e6, threadCpuMs() - cpu, ok ? "ok" : "FAILED", loaded.size());
    return ok ? 0 : 1;
}
