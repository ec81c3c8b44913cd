// Helper for tst_tcpfallback: runs the TCP fallback over HOSTS hosts, every
// other one silent, with the poller's own cycle, under the descriptor limit it
// was started with (the test starts it under prlimit), and prints how long
// after its first cycle each answering row got its status. Time is a test
// clock's, moved on while the engine settles at each step: the figures are
// those of the engine's order of attempts, whatever the machine's speed.
//   fair_probe HOSTS
#include "PingEngine.h"
#include "PingThread.h"
#include "TestClock.h"
#include "TestNetwork.h"
#include "TestRow.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <sys/resource.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2)
        return 2;
    const int hosts = std::atoi(argv[1]);
    QCoreApplication app(argc, argv);
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    TestClock clock;
    PingEngine engine(PingEngine::Method::TcpOnly, clock);
    const qint64 cycleMs = PingEngine::Timing().wait.count();

    QElapsedTimer making;
    making.start();
    const Clock::time_point start = clock.now();
    const auto sinceStart = [&clock, start] { return std::chrono::duration_cast<std::chrono::milliseconds>(clock.now() - start).count(); };
    std::vector<std::unique_ptr<TestRow>> rows;
    std::vector<qint64> firstCycleAt(hosts, -1); // when the row's first probe was due
    std::vector<qint64> firstStatusAt(hosts, -1);
    int waiting = 0; // answering rows without a status
    for (int i = 0; i < hosts; ++i) {
        const bool silent = i % 2 == 1;
        const int n = i / 2;
        // Nothing listens in the namespace: a loopback host refuses, so it is up.
        const QByteArray host = silent ? TestNetwork::unreachableHost(n)
                                       : "127.0." + QByteArray::number(n / 250 + 1) + '.' + QByteArray::number(n % 250 + 1);
        rows.push_back(std::make_unique<TestRow>(QString::fromLatin1(host), 3389));
        auto *poller = new TPingThread(true, &engine, &engine);
        rows.back()->bind(poller);
        QObject::connect(poller, &TPingThread::statusReported, poller, [&, i, silent] {
            if (firstStatusAt[i] >= 0)
                return;
            firstStatusAt[i] = sinceStart();
            if (!silent)
                --waiting;
        });
        if (!silent)
            ++waiting;
        firstCycleAt[i] = sinceStart() + cycleMs;
        poller->Resume();
    }
    const qint64 madeMs = making.elapsed();
    clock.advanceUntil([&waiting] { return waiting == 0; }, std::chrono::seconds(20));

    std::vector<qint64> lateness;
    int wrong = 0, silentOnline = 0;
    for (int i = 0; i < hosts; ++i) {
        const bool silent = i % 2 == 1;
        if (silent) {
            if (rows[i]->status() == TPingThread::Online)
                ++silentOnline;
            continue;
        }
        if (firstStatusAt[i] < 0)
            continue;
        lateness.push_back(firstStatusAt[i] - firstCycleAt[i]);
        if (rows[i]->status() != TPingThread::Online)
            ++wrong;
    }
    std::sort(lateness.begin(), lateness.end());
    const PingEngine::Statistics statistics = engine.statistics();
    QTextStream out(stdout);
    out << "limit=" << qulonglong(limit.rlim_cur) << '\n'
        << "budget=" << engine.tcpBudget() << '\n'
        << "rows=" << hosts << '\n'
        << "answering=" << (hosts + 1) / 2 << '\n'
        << "answering_with_status=" << lateness.size() << '\n'
        << "median_ms=" << (lateness.empty() ? -1 : lateness[lateness.size() / 2]) << '\n'
        << "latest_ms=" << (lateness.empty() ? -1 : lateness.back()) << '\n'
        << "wrong=" << wrong << '\n'
        << "silent_online=" << silentOnline << '\n'
        << "deferred=" << qulonglong(statistics.deferred) << '\n'
        << "rows_made_real_ms=" << madeMs << '\n'
        << "real_ms=" << making.elapsed() << '\n'
        << "cpu_s=" << cpuSeconds() << '\n';
    return 0;
}
