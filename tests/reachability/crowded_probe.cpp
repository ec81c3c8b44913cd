// Helper for tst_tcpfallback: under a descriptor limit of its own, set before
// anything else, runs the TCP fallback over more hosts than descriptors (nine
// in ten of them silent, so that their attempts hold a descriptor until the
// time-out), and prints what it found.
//   crowded_probe HOSTS LIMIT
#include "PingEngine.h"
#include "PingThread.h"
#include "TestClock.h"
#include "TestNetwork.h"
#include "TestRow.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

using namespace std::chrono_literals;

int main(int argc, char *argv[])
{
    if (argc != 3)
        return 2;
    const int hosts = std::atoi(argv[1]);
    const rlim_t limit = rlim_t(std::atol(argv[2]));
    const rlimit low{limit, limit};
    if (setrlimit(RLIMIT_NOFILE, &low) != 0)
        return 3;
    QCoreApplication app(argc, argv);
    // The cycles and time-outs pass in the time of a clock that the helper moves on.
    TestClock clock;
    auto engine = std::make_unique<PingEngine>(PingEngine::Method::TcpOnly, clock);

    std::vector<std::unique_ptr<TestRow>> rows;
    std::vector<bool> silent;
    for (int i = 0; i < hosts; ++i) {
        silent.push_back(i % 10 != 0);
        // Nothing listens in the namespace: a loopback host refuses, so it is up.
        const QByteArray host = silent.back() ? TestNetwork::unreachableHost(i)
                                              : "127.0." + QByteArray::number(i / 250 + 1) + '.' + QByteArray::number(i % 250 + 1);
        rows.push_back(std::make_unique<TestRow>(QString::fromLatin1(host), 3389));
        auto *poller = new TPingThread(true, engine.get(), engine.get());
        poller->setTiming(PingEngine::Timing{200ms, 600ms});
        rows.back()->bind(poller);
        poller->Resume();
    }

    int openFailures = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    clock.advanceUntil(
        [&] {
            // The rest of the program must still be able to open a file.
            const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                ++openFailures;
            else
                ::close(fd);
            return std::all_of(rows.begin(), rows.end(), [](const auto &row) { return !row->status().isEmpty(); });
        },
        30s);

    int withStatus = 0, wrong = 0;
    for (int i = 0; i < hosts; ++i) {
        if (rows[i]->status().isEmpty())
            continue;
        ++withStatus;
        if (rows[i]->status() != (silent[i] ? TPingThread::Offline : TPingThread::Online))
            ++wrong;
    }
    const PingEngine::Statistics statistics = engine->statistics();
    const long budget = engine->tcpBudget();
    QElapsedTimer stopping;
    stopping.start();
    engine.reset();
    const qint64 stopMs = stopping.elapsed();

    QTextStream out(stdout);
    out << "limit=" << qulonglong(limit) << '\n'
        << "rows=" << hosts << '\n'
        << "with_status=" << withStatus << '\n'
        << "wrong=" << wrong << '\n'
        << "open_failures=" << openFailures << '\n'
        << "budget=" << budget << '\n'
        << "deferred=" << qulonglong(statistics.deferred) << '\n'
        << "seconds=" << double(elapsed.elapsed()) / 1000.0 << '\n'
        << "stop_ms=" << stopMs << '\n';
    return 0;
}
