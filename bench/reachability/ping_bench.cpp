// Runs the ping engine over 10,000 and 50,000 loopback hosts, every tenth of
// them silent, for 10 s each, inside a network namespace of its own, by ICMP
// and by the TCP fallback, and fping over the same hosts at the same asked
// rate for comparison; then sets the three side by side per probe and per
// second of wall time.
//
//   ping_bench [--seconds S] [--hosts N[,N...]] [--modes icmp,tcp] [--fping-rounds R]
//              [--repeat K] [--no-floor] [--datagram] [--no-caps]
//
// The namespace keeps only the rule that silences 127.1.0.0/16.
// As root the engine uses a raw ICMP socket; --datagram widens the namespace's
// ping_group_range first, so that it uses a datagram socket; the tcp mode runs
// the TCP connection fallback (to port 3389, which nobody listens on: refused,
// so up); --no-caps runs the engine without any capability, as an ordinary
// user's program would run (with --datagram, or it falls back to TCP).
// fping sends R rounds (by default S for 10,000 hosts and fewer for more, as
// it takes longer than a second per round there). Each run is a child
// process of its own, so that peak memory and CPU belong to that run alone.
// A run's CPU is its process's, all threads together, over the run's wall
// time (after the pollers are made): "% of one core" is the one over the other.
//
// With the ICMP mode comes a floor: a bare prober on the same kind of socket
// that sends each host one request a second, spread over 5 ms ticks in the
// same sendmmsg batches, and reads the replies with recvmmsg, keeping no
// books at all. What it costs is the system's part of a probe on loopback
// (the request, the kernel's answer to it, the reply), which no prober can
// go below here; what the engine costs beyond it is the engine's own. A
// second floor sends only to silent hosts: the difference is what the
// kernel's answer and the reply cost, the answering host's work, which on
// loopback is billed to the prober.
// --repeat runs the engine and the floor K times each (fping once) and
// gives the median of the runs; the load average is shown with each run.
//
// How the rounds leave: the engine starts every host at once, so a round is a
// burst: all probes due within one 5 ms tick leave together, in sendmmsg
// batches of 64, and each host's next probe is due a second after its own
// result. fping spreads its round instead: one packet every -i ms, round
// robin over the hosts, each host again -p ms after its last packet.
#include "EchoRequest.h"
#include "IcmpSocket.h"
#include "PingEngine.h"
#include "PingLoop.h"
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
#include <sys/socket.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

bool silent(int i)
{
    return i % 10 == 9;
}

// Silent hosts in the namespace's dropped 127.1.0.0/16; answering ones in
// 127.0.0.0/16, then 127.2.0.0/16 (127.3 and 127.4 have rules of their own),
// 62,500 to a range, so that every octet stays within 1..250.
QByteArray hostAddress(int i)
{
    const int n = silent(i) ? i / 10 : i;
    const int range = silent(i) ? 1 : (n / 62500 == 0 ? 0 : 2);
    return "127." + QByteArray::number(range) + '.' + QByteArray::number((n / 250) % 250) + '.' + QByteArray::number(n % 250 + 1);
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

class BenchRow final : public PingTarget {
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

    auto owned = std::make_unique<PingEngine>(tcp ? PingEngine::Method::TcpOnly : PingEngine::Method::Auto);
    PingEngine &engine = *owned;
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
                threads, static_cast<unsigned long long>(statistics.sent), static_cast<unsigned long long>(statistics.answered),
                static_cast<unsigned long long>(statistics.timedOut), static_cast<unsigned long long>(statistics.stray), results, wrong, unanswered,
                statistics.latenessP50Ms, statistics.latenessP90Ms, statistics.latenessP99Ms, statistics.latenessWorstMs, guiBusy * 100.0,
                qPrintable(engine.probeKind()));
    const long budget = engine.tcpBudget();
    // The engine and its pollers go, with every probe in flight.
    QElapsedTimer stopping;
    stopping.start();
    std::vector<std::uint64_t> steady = engine.latenessHistogram();
    owned.reset();
    const double stopMs = double(stopping.nsecsElapsed()) / 1e6;
    std::printf("engine hosts=%d deferred=%llu budget=%ld stop_ms=%.1f\n", hosts, static_cast<unsigned long long>(statistics.deferred), budget, stopMs);
    std::printf("summary %s %d %.3f %llu %.3f %.1f %.1f\n", tcp ? "engine-tcp" : "engine-icmp", hosts, double(wall.elapsed()) / 1000.0,
                static_cast<unsigned long long>(statistics.sent), cpu, statistics.latenessP99Ms, statistics.latenessWorstMs);
    for (std::size_t i = 0; i < steady.size() && i < startup.size(); ++i)
        steady[i] -= startup[i];
    std::printf("engine hosts=%d lateness in the first %d ms: p99_ms=%.1f p100_ms=%.1f; after it: p50_ms=%.1f p99_ms=%.1f p100_ms=%.1f\n",
                hosts, settleMs, PingEngine::latenessPercentileMs(startup, 99), PingEngine::latenessPercentileMs(startup, 100),
                PingEngine::latenessPercentileMs(steady, 50), PingEngine::latenessPercentileMs(steady, 99),
                PingEngine::latenessPercentileMs(steady, 100));
    std::fflush(stdout);
    return 0;
}

// The floor: one socket; each answering host once a second and each silent
// one every fourth second (as often as the engine probes them), evenly over
// 5 ms ticks, in batches; every reply read; nothing else. With unanswered,
// only the silent hosts, every second: a request's own part, without the
// kernel's answer and its reply.
int runFloor(int hosts, int seconds, bool unanswered)
{
    const std::unique_ptr<IcmpSocket> socket = IcmpSocket::open(AF_INET, nullptr);
    if (!socket) {
        std::printf("floor: no ICMP socket\n");
        return 1;
    }
    std::vector<IpAddress> addresses;
    addresses.reserve(hosts);
    for (int i = 0; i < hosts; ++i)
        addresses.push_back(IpAddress::parseLiteral(hostAddress(unanswered ? i / 10 * 10 + 9 : i)).value_or(IpAddress{}));
    const QByteArray data = EchoRequest::data();
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
    timespec tick{};
    clock_gettime(CLOCK_MONOTONIC, &tick);
    const double cpuStart = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer wall;
    wall.start();
    long long sent = 0, replies = 0;
    long long round = 0, host = 0; // the next request: this host in this second
    unsigned short sequence = 0;
    // How late each request left against its place in the second, in the
    // engine's 0.1 ms steps: what the machine's load alone costs.
    std::vector<std::uint64_t> lateness(PingCounters::Buckets);
    double worstMs = 0;
    auto drain = [&socket, &replies] {
        IcmpSocket::Reply reply;
        for (IcmpSocket::Read read; (read = socket->receive(reply)) != IcmpSocket::Read::Empty;)
            replies += read == IcmpSocket::Read::Reply;
    };
    while (round < seconds) {
        for (long long nowNs = wall.nsecsElapsed(); round < seconds;) {
            const long long dueNs = round * 1000000000LL + host * 1000000000LL / hosts;
            if (dueNs > nowNs)
                break;
            if (unanswered || !silent(int(host)) || round % 4 == 0) {
                const double lateMs = double(nowNs - dueNs) / 1e6;
                worstMs = std::max(worstMs, lateMs);
                ++lateness[std::size_t(std::clamp(lateMs * 10.0, 0.0, double(PingCounters::Buckets - 1)))];
                socket->queue(addresses[std::size_t(host)], sequence++, bytes, int(data.size()));
                ++sent;
            }
            if (++host == hosts) {
                host = 0;
                ++round;
            }
            if (socket->queued() == IcmpSocket::BatchSize) {
                socket->flush();
                drain();
                nowNs = wall.nsecsElapsed();
            }
        }
        if (socket->queued() > 0)
            socket->flush();
        drain();
        tick.tv_nsec += 5000000;
        if (tick.tv_nsec >= 1000000000) {
            tick.tv_nsec -= 1000000000;
            ++tick.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &tick, nullptr);
    }
    const double cpu = cpuSeconds(RUSAGE_SELF) - cpuStart;
    const char *name = unanswered ? "floor-silent" : "batch-floor";
    std::printf("%s hosts=%d seconds=%d cpu=%.2f sent=%lld answered=%lld probe=\"%s\"\n", name, hosts, seconds, cpu, sent, replies,
                socket->kind() == IcmpSocket::Kind::Raw ? "ICMP raw socket" : "ICMP datagram socket");
    std::printf("summary %s %d %.3f %lld %.3f %.1f %.1f\n", name, hosts, double(wall.elapsed()) / 1000.0, sent, cpu,
                PingEngine::latenessPercentileMs(lateness, 99), worstMs);
    std::fflush(stdout);
    return 0;
}

struct Child {
    QString output;
    double cpu = 0;
    double wall = 0;
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
    QElapsedTimer wall;
    wall.start();
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
    child.wall = double(wall.elapsed()) / 1000.0;
    child.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    child.peakKb = usage.ru_maxrss;
    return child;
}

// One prober's figures over one run, for the table at the end.
struct Summary {
    QString prober;
    int hosts = 0;
    double wall = 0; // seconds of the measured run
    double probes = 0;
    double cpu = 0;        // seconds
    double lateP99Ms = -1; // -1: not measured
    double lateWorstMs = -1;
    QString load; // the load average as the run ended
};

Summary parseSummary(const QString &output)
{
    Summary summary;
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1String("summary ")))
            continue;
        const QStringList parts = line.split(QLatin1Char(' '));
        if (parts.size() < 6)
            continue;
        summary.prober = parts[1];
        summary.hosts = parts[2].toInt();
        summary.wall = parts[3].toDouble();
        summary.probes = parts[4].toDouble();
        summary.cpu = parts[5].toDouble();
        if (parts.size() >= 8) {
            summary.lateP99Ms = parts[6].toDouble();
            summary.lateWorstMs = parts[7].toDouble();
        }
    }
    return summary;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

// Probes a second asked of a prober: one per host per second; the engine's
// cycle of a silent host is a second's wait after its 3 s time-out, and the
// floor probes those as often.
double asked(const Summary &s)
{
    return s.prober.startsWith(QLatin1String("engine")) || s.prober == QLatin1String("batch-floor") ? s.hosts * (0.9 + 0.1 / 4.0) : s.hosts;
}

void printRow(const char *label, const Summary &s)
{
    const QString late = s.lateP99Ms < 0 ? QStringLiteral("-") : QString::number(s.lateP99Ms, 'f', 1);
    const QString worst = s.lateWorstMs < 0 ? QStringLiteral("-") : QString::number(s.lateWorstMs, 'f', 1);
    std::printf("%-12s %-7s %7d %7.1f %9.0f %7.2f %10.2f %9.1f %10.0f %8.0f%% %8s %8s  %s\n", qPrintable(s.prober), label, s.hosts,
                s.wall, s.probes, s.cpu, s.cpu / s.probes * 1e6, s.cpu / s.wall * 100.0, s.probes / s.wall,
                s.probes / s.wall / asked(s) * 100.0, qPrintable(late), qPrintable(worst), qPrintable(s.load));
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

// Every run, then for each prober and size run more than once the median of
// its runs, figure by figure.
void printTable(const std::vector<Summary> &summaries)
{
    std::printf("\n%-12s %-7s %7s %7s %9s %7s %10s %9s %10s %9s %8s %8s  %s\n", "prober", "run", "hosts", "wall_s", "probes",
                "cpu_s", "us/probe", "%of_core", "probes/s", "of_asked", "p99_ms", "worst_ms", "load(1,5,15min)");
    std::vector<std::pair<QString, int>> seen;
    for (const Summary &s : summaries) {
        if (s.probes <= 0 || s.wall <= 0)
            continue;
        printRow("each", s);
        if (std::find(seen.begin(), seen.end(), std::pair(s.prober, s.hosts)) == seen.end())
            seen.emplace_back(s.prober, s.hosts);
    }
    for (const auto &[prober, hosts] : seen) {
        std::vector<Summary> runs;
        for (const Summary &s : summaries) {
            if (s.prober == prober && s.hosts == hosts && s.probes > 0 && s.wall > 0)
                runs.push_back(s);
        }
        if (runs.size() < 2)
            continue;
        auto of = [&runs](auto field) {
            std::vector<double> values;
            for (const Summary &s : runs)
                values.push_back(field(s));
            return median(values);
        };
        // Per probe and per second as medians of the runs' own ratios.
        Summary m;
        m.prober = prober;
        m.hosts = hosts;
        m.wall = of([](const Summary &s) { return s.wall; });
        m.probes = of([](const Summary &s) { return s.probes / s.wall; }) * m.wall;
        m.cpu = of([](const Summary &s) { return s.cpu / s.wall; }) * m.wall;
        m.lateP99Ms = of([](const Summary &s) { return s.lateP99Ms; });
        m.lateWorstMs = of([](const Summary &s) { return s.lateWorstMs; });
        m.load = QStringLiteral("median of %1 runs").arg(runs.size());
        printRow("median", m);
    }
    std::printf("(%%of_core: the process's CPU time, all its threads, over the run's wall time. Asked: each host once a\n"
                " second, the engine's silent hosts every 4 s (a 3 s time-out and a second's wait). p99_ms, worst_ms: how late\n"
                " the probes left against their due time, whole run (the floor's: against an even spread). engine: a burst per 5 ms tick, sendmmsg batches\n"
                " of 64, each host due a second after its result; batch-floor: the same batches with nothing else, the\n"
                " system's own part of a probe; floor-silent: the same, every request to a silent host, so without the\n"
                " kernel's answer and its reply; fping: one packet every -i ms round robin, each host every -p ms at the\n"
                " soonest, its wall time from its start to its end, the last 3 s time-out included. On a shared machine\n"
                " other processes' load lengthens fping's rounds and the engine's lateness alike.)\n");
    std::fflush(stdout);
}

} // namespace

// CPU seconds of the kernel's softirq threads: loopback work the kernel
// defers to them is billed to no prober, so a run shows how much of it there was.
double ksoftirqdSeconds()
{
    double ticks = 0;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (!entry.front().isDigit())
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        if (!line.contains("(ksoftirqd/") || close < 0)
            continue;
        // After the name: state, then fields 4..; utime and stime are fields 14 and 15.
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() > 12)
            ticks += fields[11].toDouble() + fields[12].toDouble();
    }
    return ticks / double(sysconf(_SC_CLK_TCK));
}

// One run of the engine or the floor, as a child process of its own.
Summary runProber(QStringList command, bool noCaps, int hosts)
{
    if (noCaps)
        command = QStringList{QStringLiteral("setpriv"), QStringLiteral("--bounding-set=-all"), QStringLiteral("--inh-caps=-all")} + command;
    const double softirqStart = ksoftirqdSeconds();
    const Child child = runChild(command);
    std::printf("%s", qPrintable(child.output));
    std::printf("run    hosts=%d total_cpu_incl_setup=%.2f peak_rss_kb=%ld ksoftirqd_cpu=%.2f load=%s\n", hosts, child.cpu, child.peakKb,
                ksoftirqdSeconds() - softirqStart, qPrintable(loadAverage()));
    std::fflush(stdout);
    Summary summary = parseSummary(child.output);
    summary.load = loadAverage();
    return summary;
}

int main(int argc, char *argv[])
{
    if (argc == 5 && QByteArray(argv[1]) == "--run")
        return runEngine(QByteArray(argv[2]).toInt(), QByteArray(argv[3]).toInt(), QByteArray(argv[4]) == "tcp");
    if (argc == 5 && QByteArray(argv[1]) == "--run-floor")
        return runFloor(QByteArray(argv[2]).toInt(), QByteArray(argv[3]).toInt(), QByteArray(argv[4]) == "silent");

    int seconds = 10;
    int fpingRounds = 0;
    bool datagram = false;
    bool noCaps = false;
    bool floor = true;
    int repeat = 1;
    QList<int> sizes{10000, 50000};
    QList<QByteArray> modes{"icmp", "tcp"};
    for (int i = 1; i < argc; ++i) {
        const QByteArray option(argv[i]);
        if (option == "--datagram") {
            datagram = true;
            continue;
        }
        if (option == "--no-caps") {
            noCaps = true;
            continue;
        }
        if (option == "--no-floor") {
            floor = false;
            continue;
        }
        if (i + 1 >= argc)
            break;
        const QByteArray value(argv[++i]);
        if (option == "--seconds") {
            seconds = value.toInt();
        } else if (option == "--repeat") {
            repeat = std::max(1, value.toInt());
        } else if (option == "--fping-rounds") {
            fpingRounds = value.toInt();
        } else if (option == "--modes") {
            modes = value.split(',');
        } else if (option == "--hosts") {
            sizes.clear();
            for (const QByteArray &size : value.split(','))
                sizes.append(size.toInt());
        }
    }
    TestNetwork::enter();
    if (!TestNetwork::canDropHosts()) {
        std::fprintf(stderr, "ping_bench needs a private network namespace with silent hosts: %s\n",
                     qPrintable(TestNetwork::reason()));
        return 1;
    }
    // The test namespace also rewrites and rejects packets for the tests'
    // sake; every packet of every prober would pay for those rules here.
    // The bench needs only its silent hosts.
    const char *const nft[] = {"nft", "-f", "-", nullptr};
    if (TestNetwork::detail::run(nft, "delete table inet brennic_reachability_rewrite\n"
                                      "flush chain inet brennic_reachability_test input\n"
                                      "add rule inet brennic_reachability_test input ip daddr 127.1.0.0/16 drop\n",
                                 true)
        != 0) {
        std::fprintf(stderr, "cannot leave only the drop rule in the namespace\n");
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
    std::vector<Summary> summaries;
    for (int hosts : sizes) {
        for (int run = 0; run < repeat; ++run) {
            for (const QByteArray &mode : modes) {
                QStringList command{self, QStringLiteral("--run"), QString::number(hosts), QString::number(seconds),
                                    mode == "tcp" ? QStringLiteral("tcp") : QStringLiteral("auto")};
                summaries.push_back(runProber(command, noCaps, hosts));
                if (mode != "tcp" && floor)
                    summaries.push_back(runProber({self, QStringLiteral("--run-floor"), QString::number(hosts), QString::number(seconds), QStringLiteral("all")}, noCaps, hosts));
            }
        }
        if (modes.contains("icmp") && floor)
            summaries.push_back(runProber({self, QStringLiteral("--run-floor"), QString::number(hosts), QString::number(seconds), QStringLiteral("silent")}, noCaps, hosts));
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
        // One probe per host per second asked, as of the engine; -i spaces the
        // packets so that a whole round would fit in the second, down to
        // fping's least interval. A round of more hosts takes longer than a
        // second, so fewer rounds keep the run short.
        const double interval = std::max(0.1, std::min(10.0, 900.0 / hosts));
        const int rounds = fpingRounds > 0 ? fpingRounds : std::max(2, seconds * 10000 / std::max(hosts, 10000));
        const Child other = runChild({fping, QStringLiteral("-q"), QStringLiteral("-c"), QString::number(rounds),
                                      QStringLiteral("-p"), QStringLiteral("1000"), QStringLiteral("-t"), QStringLiteral("3000"),
                                      QStringLiteral("-i"), QString::number(interval), QStringLiteral("-f"), list.fileName()});
        long sent = 0, received = 0;
        for (const QString &line : other.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QString counts = line.section(QStringLiteral("xmt/rcv/%loss = "), 1).section(QLatin1Char(','), 0, 0);
            sent += counts.section(QLatin1Char('/'), 0, 0).toLong();
            received += counts.section(QLatin1Char('/'), 1, 1).toLong();
        }
        std::printf("fping  hosts=%d rounds=%d wall=%.1f cpu=%.2f peak_rss_kb=%ld threads=1 sent=%ld answered=%ld interval_ms=%g\n",
                    hosts, rounds, other.wall, other.cpu, other.peakKb, sent, received, interval);
        std::fflush(stdout);
        Summary fpingRun;
        fpingRun.prober = QStringLiteral("fping");
        fpingRun.hosts = hosts;
        fpingRun.wall = other.wall;
        fpingRun.probes = double(sent);
        fpingRun.cpu = other.cpu;
        fpingRun.load = loadAverage();
        summaries.push_back(fpingRun);
    }
    printTable(summaries);
    return 0;
}
