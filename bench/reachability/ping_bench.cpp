// Runs the ping engine over 100, 1,000 and 10,000 loopback hosts, every tenth
// of them silent, for 20 s each, inside a network namespace of its own, and
// fping over the same hosts at the same rate for comparison.
//
//   ping_bench [--seconds S] [--hosts N[,N...]] [--datagram | --tcp] [--no-caps]
//
// As root the engine uses a raw ICMP socket; --datagram widens the namespace's
// ping_group_range first, so that it uses a datagram socket; --tcp runs the
// TCP connection fallback instead (to port 3389, which nobody listens on);
// --no-caps runs the engine without any capability, as an ordinary user's
// program would run (with --datagram, or it falls back to TCP).
// Each size runs in a child process of its own, so that peak memory and CPU
// belong to that size alone.
#include "PingEngine.h"
#include "PingThread.h"
#include "PingTarget.h"
#include "TestNetwork.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

bool silent(int i)
{
    return i % 10 == 9;
}

QByteArray hostAddress(int i)
{
    return QByteArray(silent(i) ? "127.1." : "127.0.") + QByteArray::number(i / 250) + '.' + QByteArray::number(i % 250 + 1);
}

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double userSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6;
}

double threadCpuSeconds()
{
    return cpuSeconds(RUSAGE_THREAD);
}

QString statusField(const QString &name)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(name.toLatin1() + ':'))
            return QString::fromLatin1(line.mid(name.size() + 1)).simplified();
    }
    return QString();
}

class BenchRow : public PingTarget {
public:
    BenchRow(QString address, bool silentHost) : address_(std::move(address)), silent_(silentHost) {}
    QString address() const override { return address_; }
    unsigned short port() const override { return 3389; }
    void count(int iRet)
    {
        ++results;
        // A silent host that "answers" got someone else's reply; an answering
        // host that does not lost its reply.
        if (silent_ ? iRet != 0 : iRet != 1)
            ++wrong;
    }
    int results = 0;
    int wrong = 0;

private:
    QString address_;
    bool silent_;
};

// One size, in this process.
int runEngine(int hosts, int seconds, bool tcp)
{
    int argc = 1;
    char name[] = "ping_bench";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const double cpuStart = cpuSeconds(RUSAGE_SELF);
    const QString baseKb = statusField(QStringLiteral("VmRSS")).remove(QStringLiteral(" kB"));

    PingEngine engine(tcp ? PingEngine::Method::TcpOnly : PingEngine::Method::Auto);
    std::vector<std::unique_ptr<BenchRow>> rows;
    rows.reserve(hosts);
    for (int i = 0; i < hosts; ++i) {
        rows.push_back(std::make_unique<BenchRow>(QString::fromLatin1(hostAddress(i)), silent(i)));
        auto *poller = new TPingThread(true, &engine, &engine);
        poller->setListItem(rows.back().get());
        BenchRow *row = rows.back().get();
        QObject::connect(poller, &TPingThread::statusUpdated, poller, [row](int iRet) { row->count(iRet); });
        poller->Resume();
    }
    QElapsedTimer wall;
    wall.start();
    const double guiStart = threadCpuSeconds();
    const double cpuRun = cpuSeconds(RUSAGE_SELF);
    const double userRun = userSeconds();
    int threads = 0;
    // Lateness of the first rounds, when every host was started at once, and
    // of the steady state after them.
    std::vector<std::uint64_t> startup;
    const int settleMs = std::min(5000, seconds * 1000 / 4);
    QTimer::singleShot(settleMs, &app, [&engine, &startup] { startup = engine.latenessHistogram(); });
    QTimer::singleShot(seconds * 1000 / 2, &app, [&threads] { threads = int(QDir(QStringLiteral("/proc/self/task")).count()) - 2; });
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double guiBusy = (threadCpuSeconds() - guiStart) / (double(wall.elapsed()) / 1000.0);
    const double cpu = cpuSeconds(RUSAGE_SELF) - cpuRun;
    const double user = userSeconds() - userRun;
    const PingEngine::Statistics statistics = engine.statistics();

    long wrong = 0, results = 0, unanswered = 0;
    for (const auto &row : rows) {
        wrong += row->wrong;
        results += row->results;
        if (row->results == 0)
            ++unanswered;
    }
    std::printf("engine hosts=%d seconds=%d cpu=%.2f (user %.2f) cpu_setup=%.2f base_rss_kb=%s peak_kb=%s threads=%d sent=%llu answered=%llu "
                "timed_out=%llu stray=%llu results=%ld wrong=%ld rows_without_result=%ld late_p50_ms=%.1f late_p90_ms=%.1f late_p99_ms=%.1f late_worst_ms=%.1f "
                "gui_busy=%.3f%% probe=\"%s\"\n",
                hosts, seconds, cpu, user, cpuRun - cpuStart, qPrintable(baseKb), qPrintable(statusField(QStringLiteral("VmHWM")).remove(QStringLiteral(" kB"))),
                threads, (unsigned long long)statistics.sent, (unsigned long long)statistics.answered,
                (unsigned long long)statistics.timedOut, (unsigned long long)statistics.stray, results, wrong, unanswered,
                statistics.latenessP50Ms, statistics.latenessP90Ms, statistics.latenessP99Ms, statistics.latenessWorstMs, guiBusy * 100.0,
                qPrintable(engine.probeKind()));
    std::vector<std::uint64_t> steady = engine.latenessHistogram();
    for (std::size_t i = 0; i < steady.size() && i < startup.size(); ++i)
        steady[i] -= startup[i];
    std::printf("engine hosts=%d lateness in the first %d ms: p99_ms=%.1f p100_ms=%.1f; after it: p50_ms=%.1f p99_ms=%.1f p100_ms=%.1f\n",
                hosts, settleMs, PingEngine::latenessPercentileMs(startup, 99), PingEngine::latenessPercentileMs(startup, 100),
                PingEngine::latenessPercentileMs(steady, 50), PingEngine::latenessPercentileMs(steady, 99),
                PingEngine::latenessPercentileMs(steady, 100));
    std::fflush(stdout);
    return 0;
}

struct Child {
    QString output;
    double cpu = 0;
    long peakKb = 0;
};

Child runChild(const QStringList &command)
{
    Child child;
    std::vector<QByteArray> storage;
    for (const QString &part : command)
        storage.push_back(part.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &part : storage)
        argv.push_back(part.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return child;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        close(pipeFds[0]);
        close(pipeFds[1]);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    char buffer[4096];
    for (ssize_t got; (got = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        child.output += QString::fromLocal8Bit(buffer, int(got));
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    child.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    child.peakKb = usage.ru_maxrss;
    return child;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 5 && QByteArray(argv[1]) == "--run")
        return runEngine(QByteArray(argv[2]).toInt(), QByteArray(argv[3]).toInt(), QByteArray(argv[4]) == "tcp");

    int seconds = 20;
    bool datagram = false;
    bool tcp = false;
    bool noCaps = false;
    QList<int> sizes{100, 1000, 10000};
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--datagram") {
            datagram = true;
            continue;
        }
        if (QByteArray(argv[i]) == "--no-caps") {
            noCaps = true;
            continue;
        }
        if (QByteArray(argv[i]) == "--tcp") {
            tcp = true;
            continue;
        }
        if (i + 1 >= argc)
            break;
        if (QByteArray(argv[i]) == "--seconds")
            seconds = QByteArray(argv[i + 1]).toInt();
        else if (QByteArray(argv[i]) == "--hosts") {
            sizes.clear();
            for (const QByteArray &size : QByteArray(argv[i + 1]).split(','))
                sizes.append(size.toInt());
        }
        ++i;
    }
    TestNetwork::enter();
    if (!TestNetwork::canDropHosts()) {
        std::fprintf(stderr, "ping_bench needs a private network namespace with silent hosts: %s\n",
                     qPrintable(TestNetwork::reason()));
        return 1;
    }
    if (datagram) {
        // Let everyone, this process included, use datagram ICMP sockets in the namespace.
        QFile range(QStringLiteral("/proc/sys/net/ipv4/ping_group_range"));
        if (!range.open(QIODevice::WriteOnly) || range.write("0 2147483647") <= 0) {
            std::fprintf(stderr, "cannot widen ping_group_range\n");
            return 1;
        }
    }
    const QString self = QString::fromLocal8Bit(argv[0]);
    const QString fping = QStandardPaths::findExecutable(QStringLiteral("fping"));
    QTemporaryDir dir;
    for (int hosts : sizes) {
        QStringList command{self, QStringLiteral("--run"), QString::number(hosts), QString::number(seconds),
                            tcp ? QStringLiteral("tcp") : QStringLiteral("auto")};
        if (noCaps)
            command = QStringList{QStringLiteral("setpriv"), QStringLiteral("--bounding-set=-all"), QStringLiteral("--inh-caps=-all")} + command;
        const Child engine = runChild(command);
        std::printf("%s", qPrintable(engine.output));
        std::printf("engine hosts=%d total_cpu_incl_setup=%.2f peak_rss_kb=%ld\n", hosts, engine.cpu, engine.peakKb);
        if (fping.isEmpty()) {
            std::printf("fping: not installed\n");
            continue;
        }
        QFile list(dir.filePath(QStringLiteral("hosts-%1").arg(hosts)));
        if (!list.open(QIODevice::WriteOnly))
            return 1;
        for (int i = 0; i < hosts; ++i)
            list.write(hostAddress(i) + '\n');
        list.close();
        // One probe per host per second, as the engine does; -i spaces the
        // packets so that a whole round fits in the second.
        const double interval = std::max(0.1, std::min(10.0, 900.0 / hosts));
        const Child other = runChild({fping, QStringLiteral("-q"), QStringLiteral("-c"), QString::number(seconds),
                                      QStringLiteral("-p"), QStringLiteral("1000"), QStringLiteral("-t"), QStringLiteral("3000"),
                                      QStringLiteral("-i"), QString::number(interval), QStringLiteral("-f"), list.fileName()});
        long sent = 0, received = 0;
        for (const QString &line : other.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QString counts = line.section(QStringLiteral("xmt/rcv/%loss = "), 1).section(QLatin1Char(','), 0, 0);
            sent += counts.section(QLatin1Char('/'), 0, 0).toLong();
            received += counts.section(QLatin1Char('/'), 1, 1).toLong();
        }
        std::printf("fping  hosts=%d seconds=%d cpu=%.2f peak_rss_kb=%ld threads=1 sent=%ld answered=%ld interval_ms=%g\n",
                    hosts, seconds, other.cpu, other.peakKb, sent, received, interval);
        std::fflush(stdout);
    }
    return 0;
}
