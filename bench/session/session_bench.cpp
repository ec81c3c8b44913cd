// Compares this program's RDP session with Debian's xfreerdp, measured the same
// way for both, in one run, against the FreeRDP shadow server and xrdp on loopback:
//
// - first frame: from the start of the client's process (ours started as
//   "brennic --connect ADDRESS") to the first pixel of the remote desktop on the
//   client's X server, read from outside with XGetImage; median of several runs,
//   the two clients taking turns;
// - CPU per change seen: the server's screen changes 30 times a second; the CPU
//   time of the client's process and of the X server that shows its window (an
//   Xvfb of its own), over the changes that reached that X server; with the same
//   codec on both: H.264 (AVC420) through the graphics pipeline, and bitmap
//   updates without it; median of several runs, the two clients taking turns;
// - memory: the proportional set size (PSS) of the client's process for one
//   session (median of the same runs), and of five sessions at once, each
//   client opening them its own way: ours in one process ("brennic --connect
//   A --connect A ...", as the manager holds any number of sessions in its one
//   process), xfreerdp in five processes (one per session, the only way it
//   has), their PSS added up.
//
// Every client process runs on an Xvfb of its own, 1024 x 768, which its window
// fills: the centre of the screen shows the remote desktop for both clients.
// Both trust the servers' certificates (xfreerdp with /cert:ignore, ours from a
// store filled by a first, uncounted connection); neither sends credentials
// (xrdp logs its test user on by itself).
//
//   session_bench [runs] [seconds] [servers]   (default 5 runs, 10 s of changes, "shadow,xrdp")
//   BRENNIC_BENCH_PROGRAM=PATH session_bench ...  runs that build of ours instead

#include "PrivateNetwork.h"
#include "ProcessCpu.h"
#include "RdpTestServer.h"
#include "XrdpServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

// Last: Xlib defines names that Qt uses.
#include "XWindowProbe.h"
#include "XfreerdpClient.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr QRgb ColorA = 0x336699;
constexpr QRgb ColorB = 0xCC6633;
constexpr QRgb XrdpLoginScreen = 0xDEDEDE; // xrdp's login window, at the screen's centre
constexpr double ChangesPerSecond = 30;
constexpr int ChangingSquare = 256; // the part of the server's screen that changes
constexpr int FirstFrameLimitMs = 20000;
constexpr int SessionsAtOnce = 5;

bool Near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) <= 16 && std::abs(qGreen(a) - qGreen(b)) <= 16
        && std::abs(qBlue(a) - qBlue(b)) <= 16;
}

double PssMb(qint64 pid)
{
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!rollup.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : rollup.readAll().split('\n'))
        if (line.startsWith("Pss:"))
            return line.mid(4).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// ---- the two clients -----------------------------------------------------------------

// Ours: the program of this build, or another build of it that
// BRENNIC_BENCH_PROGRAM names (to compare two builds on the same machine, in
// alternating runs).
QString OurProgram()
{
    const QString chosen = qEnvironmentVariable("BRENNIC_BENCH_PROGRAM");
    return chosen.isEmpty() ? QStringLiteral(BRENNIC_PROGRAM) : chosen;
}

// How a client is started for one codec: our program's arguments (FILE stands
// for a connection file with `rdpFile` in it) and xfreerdp's options.
struct Mode {
    const char *name;
    QString address;
    QStringList ours;
    QByteArray rdpFile;
    QStringList xfreerdp;
};

// The default: the graphics pipeline at 32 bits per pixel with H.264 (AVC420),
// which is what ours offers; a server without the pipeline (xrdp) sends bitmaps to both.
Mode PipelineMode(int port)
{
    return {"graphics pipeline, AVC420",
            QStringLiteral("127.0.0.1:%1").arg(port),
            {QStringLiteral("--connect"), QStringLiteral("127.0.0.1:%1").arg(port)},
            {},
            {QStringLiteral("/bpp:32"), QStringLiteral("/gfx:AVC420")}};
}

// Bitmap updates at 16 bits per pixel, no graphics pipeline: ours leaves the
// pipeline out below 24 bits per pixel, which a connection file can ask for.
Mode BitmapMode(int port)
{
    return {"bitmaps, 16 bpp, no pipeline",
            QStringLiteral("127.0.0.1:%1").arg(port),
            {QStringLiteral("FILE")},
            QStringLiteral("full address:s:127.0.0.1:%1\r\nsession bpp:i:16\r\n").arg(port).toUtf8(),
            {QStringLiteral("/bpp:16"), QStringLiteral("-gfx")}};
}

// Files and folders of our program's runs: its settings, its certificate store.
struct OurPlace {
    QTemporaryDir folder;
    QString Store() const { return folder.filePath(QStringLiteral("store")); }
};

// One client process on an X display of its own. The clock starts right before
// the process does. Ours opens `sessions` sessions in that process, a window each.
class Client {
public:
    Client(bool ours, const Mode &mode, const OurPlace &place, int sessions = 1)
    {
        QString error;
        if (!display_.Start(&error))
            return;
        QProcessEnvironment environment = display_.Environment();
        // No session bus here: Qt would start one for each of our processes (and
        // leave it running), which a desktop has already.
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
        QStringList arguments;
        if (ours) {
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
            environment.insert(QStringLiteral("HOME"), place.folder.path());
            environment.insert(QStringLiteral("XDG_CONFIG_HOME"), place.folder.filePath(QStringLiteral("config")));
            environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), place.folder.path());
            environment.insert(QStringLiteral("BRENNIC_RDP_STORE"), place.Store());
            arguments = mode.ours;
            const QString file = place.folder.filePath(QStringLiteral("bench.rdp"));
            if (arguments.contains(QStringLiteral("FILE"))) {
                QFile out(file);
                if (out.open(QIODevice::WriteOnly))
                    out.write(mode.rdpFile);
                arguments.replace(arguments.indexOf(QStringLiteral("FILE")), file);
            }
            const QStringList one = arguments;
            for (int i = 1; i < sessions; ++i)
                arguments += one;
        } else {
            arguments = QStringList{QStringLiteral("/v:") + mode.address, QStringLiteral("/cert:ignore"),
                                    QStringLiteral("/size:1024x768"), QStringLiteral("-grab-keyboard")}
                + mode.xfreerdp;
        }
        process_.setProcessEnvironment(environment);
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
        sampler_ = std::make_unique<RdpTest::ScreenSampler>(display_.Name());
        clock_.start();
        process_.start(ours ? OurProgram() : QStringLiteral("xfreerdp"), arguments);
        process_.waitForStarted(5000);
    }
    ~Client() { TestDisplay::StopProcess(process_); }

    // Milliseconds from the process's start to the colour at the centre of its
    // screen; none when it did not come. A box of ours (the certificate question
    // of a first connection) is answered with its default button.
    std::optional<double> WaitForColour(QRgb colour, RdpTest::WindowProbe *answerer = nullptr)
    {
        if (!sampler_)
            return std::nullopt;
        while (clock_.elapsed() < FirstFrameLimitMs && process_.state() == QProcess::Running) {
            if (Near(sampler_->Centre(), colour))
                return double(clock_.nsecsElapsed()) / 1e6;
            if (answerer)
                if (const Window box = answerer->Find(QStringLiteral("brennic")))
                    answerer->PressReturn(box);
            QThread::usleep(2000);
        }
        return std::nullopt;
    }

    // At xrdp's login screen (which asks for nothing: the credentials are the
    // server's), presses Return in the client's window until one of the colours
    // of the session shows; milliseconds from the process's start.
    std::optional<double> LogOn(const QList<QRgb> &session)
    {
        RdpTest::WindowProbe probe(display_.Name());
        if (!WaitForColour(XrdpLoginScreen))
            return std::nullopt;
        QElapsedTimer sinceKey;
        while (clock_.elapsed() < 2 * FirstFrameLimitMs && process_.state() == QProcess::Running) {
            const QRgb centre = sampler_->Centre();
            if (std::any_of(session.begin(), session.end(), [&](QRgb c) { return Near(centre, c); }))
                return double(clock_.nsecsElapsed()) / 1e6;
            if (!sinceKey.isValid() || sinceKey.elapsed() > 1000) {
                for (const auto &[window, title] : probe.MappedTitles())
                    probe.PressReturn(window);
                sinceKey.start();
            }
            QThread::usleep(2000);
        }
        return std::nullopt;
    }

    // Changes between the two colours seen at the centre in `seconds`, and the CPU
    // time of the client and its X server meanwhile.
    std::pair<int, double> CountChanges(int seconds)
    {
        const double cpu0 = ProcessCpuSeconds(process_.processId()) + ProcessCpuSeconds(display_.Pid());
        int changes = 0;
        QRgb last = sampler_->Centre();
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < seconds * 1000) {
            QThread::msleep(5);
            const QRgb now = sampler_->Centre();
            if ((Near(now, ColorA) || Near(now, ColorB)) && !Near(now, last)) {
                ++changes;
                last = now;
            }
        }
        const double cpu = ProcessCpuSeconds(process_.processId()) + ProcessCpuSeconds(display_.Pid()) - cpu0;
        return {changes, cpu};
    }

    qint64 Pid() const { return process_.processId(); }
    QString DisplayName() const { return display_.Name(); }

private:
    TestDisplay::Display display_;
    QProcess process_;
    std::unique_ptr<RdpTest::ScreenSampler> sampler_;
    QElapsedTimer clock_;
};

// ---- what is measured -----------------------------------------------------------------

struct Pair {
    double ours = -1;
    double theirs = -1;
};

struct Row {
    QString server;
    QString measure;
    Pair figures;
    QString note;
};

std::vector<Row> g_rows;

void Add(const QString &server, const QString &measure, Pair figures, const QString &note = {})
{
    g_rows.push_back({server, measure, figures, note});
    std::fprintf(stderr, "  %s, %s: %.1f / %.1f\n", qPrintable(server), qPrintable(measure), figures.ours, figures.theirs);
}

// A first connection of ours to the server, uncounted: it answers the question
// about the server's certificate, which the store then remembers.
bool TrustServer(const Mode &mode, const OurPlace &place, QRgb colour)
{
    Client client(true, mode, place);
    RdpTest::WindowProbe probe(client.DisplayName());
    return client.WaitForColour(colour, &probe).has_value();
}

Pair FirstFrames(const Mode &mode, const OurPlace &place, QRgb colour, int runs)
{
    std::vector<double> ours;
    std::vector<double> theirs;
    for (int run = 0; run < runs; ++run)
        for (const bool isOurs : {true, false}) {
            Client client(isOurs, mode, place);
            if (const std::optional<double> ms = client.WaitForColour(colour))
                (isOurs ? ours : theirs).push_back(*ms);
        }
    return {Median(ours), Median(theirs)};
}

// Against xrdp: the first remote pixel (its login screen) and the desktop after
// Return there, for both clients taking turns.
std::pair<Pair, Pair> XrdpFirstFrames(const Mode &mode, const OurPlace &place, int runs)
{
    std::vector<double> login[2];
    std::vector<double> desktop[2];
    for (int run = 0; run < runs; ++run)
        for (const int who : {0, 1}) {
            Client client(who == 0, mode, place);
            if (const std::optional<double> ms = client.WaitForColour(XrdpLoginScreen))
                login[who].push_back(*ms);
            if (const std::optional<double> ms = client.LogOn({XrdpTest::Background, ColorA, ColorB}))
                desktop[who].push_back(*ms);
        }
    return {{Median(login[0]), Median(login[1])}, {Median(desktop[0]), Median(desktop[1])}};
}

struct Activity {
    double cpuMsPerChange = -1;
    double changesPerSecond = 0;
    double pssMb = -1;
};

// While the server's screen changes: CPU per change seen, and the session's PSS after it.
Activity WatchChanges(bool ours, const Mode &mode, const OurPlace &place, int seconds, bool logOn)
{
    Client client(ours, mode, place);
    const auto shown = [&] {
        if (logOn)
            return client.LogOn({ColorA, ColorB}).has_value();
        return client.WaitForColour(ColorA).has_value() || client.WaitForColour(ColorB).has_value();
    };
    if (!shown())
        return {};
    QThread::msleep(1000);
    const auto [changes, cpu] = client.CountChanges(seconds);
    return {1000 * cpu / std::max(1, changes), changes / double(seconds), PssMb(client.Pid())};
}

// The two clients take turns, `runs` times each: CPU per change and PSS are
// the medians over the runs (a run's figures move with what else the machine does).
void MeasureChanges(const QString &server, const Mode &mode, const OurPlace &place, int runs, int seconds,
                    bool withMemory, bool logOn = false)
{
    std::vector<double> cpu[2], rate[2], pss[2];
    for (int run = 0; run < runs; ++run)
        for (const int who : {0, 1}) {
            const Activity seen = WatchChanges(who == 0, mode, place, seconds, logOn);
            if (seen.cpuMsPerChange < 0)
                continue;
            cpu[who].push_back(seen.cpuMsPerChange);
            rate[who].push_back(seen.changesPerSecond);
            pss[who].push_back(seen.pssMb);
        }
    Add(server,
        QStringLiteral("CPU ms per change seen, client + X server, %1, median of %2")
            .arg(QLatin1String(mode.name))
            .arg(runs),
        {Median(cpu[0]), Median(cpu[1])},
        QStringLiteral("%1 / %2 changes/s seen").arg(Median(rate[0]), 0, 'f', 1).arg(Median(rate[1]), 0, 'f', 1));
    if (withMemory)
        Add(server, QStringLiteral("PSS of one session, MB (%1), median of %2").arg(QLatin1String(mode.name)).arg(runs),
            {Median(pss[0]), Median(pss[1])});
}

// How many session windows (titled "ADDRESS - Remote Desktop") are mapped on the display.
int SessionWindows(const QString &display)
{
    RdpTest::WindowProbe probe(display);
    int count = 0;
    for (const auto &[window, title] : probe.MappedTitles())
        count += title.endsWith(QStringLiteral(" - Remote Desktop"));
    return count;
}

// Five sessions at once, each shown; the PSS of the processes that hold them,
// added up. Ours: one process with five session windows; xfreerdp: five processes.
double FiveSessionsPss(bool ours, const Mode &mode, const OurPlace &place, QRgb colour)
{
    std::vector<std::unique_ptr<Client>> clients;
    if (ours) {
        clients.push_back(std::make_unique<Client>(true, mode, place, SessionsAtOnce));
        if (!clients.back()->WaitForColour(colour))
            return -1;
        QElapsedTimer waited;
        waited.start();
        while (SessionWindows(clients.back()->DisplayName()) < SessionsAtOnce && waited.elapsed() < FirstFrameLimitMs)
            QThread::msleep(20);
        if (SessionWindows(clients.back()->DisplayName()) < SessionsAtOnce)
            return -1;
    } else {
        for (int i = 0; i < SessionsAtOnce; ++i) {
            clients.push_back(std::make_unique<Client>(false, mode, place));
            if (!clients.back()->WaitForColour(colour))
                return -1;
        }
    }
    QThread::msleep(2000);
    double sum = 0;
    for (const auto &client : clients)
        sum += PssMb(client->Pid());
    return sum;
}

// ---- the servers ----------------------------------------------------------------------

void BenchShadow(const RdpTest::Display &serverDisplay, const OurPlace &place, int runs, int seconds)
{
    RdpTest::Server server;
    RdpTest::Painter still;
    QString error;
    if (!still.Start(QStringLiteral(BRENNIC_X11_TARGET), serverDisplay, QStringLiteral("336699"))
        || !server.Start(serverDisplay, &error)) {
        std::fprintf(stderr, "shadow server: %s\n", qPrintable(error));
        return;
    }
    const QString name = QStringLiteral("shadow");
    const Mode pipeline = PipelineMode(server.Port());
    const Mode bitmaps = BitmapMode(server.Port());
    if (!TrustServer(pipeline, place, ColorA)) {
        std::fprintf(stderr, "shadow server: our first session showed nothing\n");
        return;
    }
    Add(name, QStringLiteral("first frame, ms, median of %1 (%2)").arg(runs).arg(QLatin1String(pipeline.name)),
        FirstFrames(pipeline, place, ColorA, runs));
    Add(name, QStringLiteral("first frame, ms, median of %1 (%2)").arg(runs).arg(QLatin1String(bitmaps.name)),
        FirstFrames(bitmaps, place, ColorA, runs));
    Add(name, QStringLiteral("PSS of %1 sessions at once, MB (ours: 1 process; xfreerdp: %1)").arg(SessionsAtOnce),
        {FiveSessionsPss(true, pipeline, place, ColorA), FiveSessionsPss(false, pipeline, place, ColorA)});

    still.Stop();
    RdpTest::Painter changing;
    if (!changing.Start(QStringLiteral(BRENNIC_X11_TARGET), serverDisplay, QStringLiteral("336699"), {}, ChangesPerSecond,
                        QStringLiteral("cc6633"), ChangingSquare)) {
        std::fprintf(stderr, "shadow server: the painter did not start\n");
        return;
    }
    MeasureChanges(name, pipeline, place, runs, seconds, true);
    MeasureChanges(name, bitmaps, place, runs, seconds, false);
}

void BenchXrdp(const OurPlace &place, int runs, int seconds)
{
    XrdpTest::Server server;
    QString error;
    if (!server.Start(&error, 0, true)) {
        std::fprintf(stderr, "xrdp: left out: %s\n", qPrintable(error));
        return;
    }
    const QString name = QStringLiteral("xrdp");
    const Mode pipeline = PipelineMode(server.Port());
    const Mode bitmaps = BitmapMode(server.Port());
    // The first logon starts the session (its Xorg and desktop), uncounted;
    // later connections of either client reconnect to it.
    if (!TrustServer(pipeline, place, XrdpLoginScreen)) {
        std::fprintf(stderr, "xrdp: our first session showed nothing: %s\n", qPrintable(server.Folder()));
        return;
    }
    {
        Client first(false, pipeline, place);
        if (!first.LogOn({XrdpTest::Background})) {
            std::fprintf(stderr, "xrdp: the first logon showed no desktop\n");
            return;
        }
    }
    const auto [login, desktop] = XrdpFirstFrames(pipeline, place, runs);
    Add(name, QStringLiteral("first frame (login screen), ms, median of %1 (32 bpp bitmaps)").arg(runs), login);
    Add(name, QStringLiteral("start to desktop, Return at the login screen, ms, median of %1").arg(runs), desktop);

    QProcess painter;
    painter.setProcessEnvironment(server.SessionEnvironment());
    painter.start(QStringLiteral(BRENNIC_X11_TARGET),
                  {QStringLiteral("--color"), QStringLiteral("336699"), QStringLiteral("--animate"),
                   QString::number(ChangesPerSecond), QStringLiteral("--other"), QStringLiteral("cc6633"),
                   QStringLiteral("--square"), QString::number(ChangingSquare)});
    if (!painter.waitForReadyRead(5000) || !painter.readLine().startsWith("ready")) {
        std::fprintf(stderr, "xrdp: the painter did not start in the session\n");
        return;
    }
    Mode bitmaps32 = pipeline;
    bitmaps32.name = "bitmaps, 32 bpp (pipeline offered, not taken)";
    MeasureChanges(name, bitmaps32, place, runs, seconds, true, true);
    MeasureChanges(name, bitmaps, place, runs, seconds, false, true);
    TestDisplay::StopProcess(painter);
}

void PrintTable()
{
    std::printf("\n%-7s %-72s %10s %10s %8s\n", "server", "measure", "ours", "xfreerdp", "ratio");
    for (const Row &row : g_rows) {
        const double ratio = row.figures.ours > 0 && row.figures.theirs > 0 ? row.figures.ours / row.figures.theirs : -1;
        std::printf("%-7s %-72s %10.1f %10.1f %8.2f", qPrintable(row.server), qPrintable(row.measure), row.figures.ours,
                    row.figures.theirs, ratio);
        if (!row.note.isEmpty())
            std::printf("  (%s)", qPrintable(row.note));
        std::printf("\n");
    }
    std::printf("\nratio = ours / xfreerdp (below 1: ours is faster or lighter); -1 where a figure is missing.\n"
                "Each client on an Xvfb of its own at 1024x768; first frame from the process's start to the remote\n"
                "colour at the screen's centre; CPU of the client process and its X server over the changes seen there;\n"
                "the server changes a %dx%d square %g times a second; PSS from /proc/PID/smaps_rollup.\n",
                ChangingSquare, ChangingSquare, ChangesPerSecond);
}

} // namespace

int main(int argc, char *argv[])
{
    // xrdp finds its session manager on a fixed port: a network namespace of our
    // own keeps it ours. Before any thread starts.
    QString noNamespace;
    const bool privateNetwork = PrivateNetwork::Enter(&noNamespace);
    QCoreApplication app(argc, argv);
    const int runs = std::clamp(argc > 1 ? QByteArray(argv[1]).toInt() : 5, 1, 21);
    const int seconds = std::clamp(argc > 2 ? QByteArray(argv[2]).toInt() : 10, 2, 120);
    if (const QString missing = RdpTest::MissingServerPrograms(); !missing.isEmpty() || !TestDisplay::HaveProgram(QStringLiteral("xfreerdp"))) {
        std::fprintf(stderr, "not installed: %s xfreerdp (scripts/setup.sh --tests installs them)\n", qPrintable(missing));
        return 2;
    }
    RdpTest::Display serverDisplay;
    QString error;
    if (!serverDisplay.Start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const QByteArray servers = argc > 3 ? QByteArray(argv[3]) : QByteArray("shadow,xrdp");
    OurPlace place;
    if (servers.contains("shadow"))
        BenchShadow(serverDisplay, place, runs, seconds);
    if (!servers.contains("xrdp"))
        std::fprintf(stderr, "xrdp: left out as asked\n");
    else if (privateNetwork)
        BenchXrdp(place, runs, seconds);
    else
        std::fprintf(stderr, "xrdp: left out, no network namespace of our own: %s\n", qPrintable(noNamespace));
    PrintTable();
    return 0;
}
