// Compares this program's RDP session with Debian's xfreerdp against the same
// loopback shadow server, in one run: time from connect to the first frame, CPU
// and frames per second while the server's display changes 30 times a second,
// and memory per open session. CPU and the bytes the server sends per change,
// with the graphics pipeline and without it, next to xfreerdp with and without
// /gfx, are measured through a relay that counts the bytes.
//
//   session_bench [seconds]        (default 20)

#include "CountingRelay.h"
#include "MsRdpClient5.h"
#include "RdpTestServer.h"
#include "XrdpServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTest>

// Last: Xlib defines names that Qt uses.
#include "XfreerdpClient.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <thread>

namespace {

constexpr QRgb ColorA = 0x336699;
constexpr QRgb ColorB = 0xCC6633;
constexpr double ChangesPerSecond = 30;

bool Near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) <= 16 && std::abs(qGreen(a) - qGreen(b)) <= 16
        && std::abs(qBlue(a) - qBlue(b)) <= 16;
}

// 0 for neither colour, 1 for A, 2 for B.
int Which(QRgb pixel)
{
    return Near(pixel, ColorA) ? 1 : Near(pixel, ColorB) ? 2
                                                         : 0;
}

double ProcessCpuSeconds(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double ticks = double(sysconf(_SC_CLK_TCK));
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / ticks; // utime, stime
}

double SelfCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6 + double(usage.ru_stime.tv_sec)
        + double(usage.ru_stime.tv_usec) / 1e6;
}

double MemoryMb(pid_t pid, const char *field)
{
    QFile status(QStringLiteral("/proc/%1/%2").arg(pid).arg(QString::fromLatin1(std::strcmp(field, "Pss:") == 0 ? "smaps_rollup" : "status")));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(std::strlen(field))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

struct Figures {
    double firstFrameMs = 0;
    double cpuSeconds = 0;
    double changesSeen = 0;
    double framesPainted = -1;
    double seconds = 0;
    double memoryMb = 0;
    double displayCpuSeconds = -1; // the X server that shows the client's window
    double bytes = -1;             // sent by the server during the measurement
    QString codecs;                // what the pictures came in, where known
};

// ---- this program ----------------------------------------------------------------

class Counter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// The user to log on as, for servers that ask (xrdp); none for the shadow server.
QString g_user;
QString g_password;

QStringList XfreerdpCredentials()
{
    if (g_user.isEmpty())
        return {};
    return {QStringLiteral("/u:%1").arg(g_user), QStringLiteral("/p:%1").arg(g_password)};
}

std::unique_ptr<TMsRdpClient5> OpenOurs(int port, bool pipeline = true, bool avc444 = false)
{
    auto control = std::make_unique<TMsRdpClient5>();
    control->SetGraphicsPipeline(pipeline);
    control->SetGraphicsAvc444(avc444);
    control->SetUserName(g_user);
    control->AdvancedSettings2()->SetClearTextPassword(g_password);
    control->resize(1024, 768);
    control->SetServer(QStringLiteral("127.0.0.1"));
    control->AdvancedSettings2()->SetRDPPort(port);
    control->SetDesktopWidth(1024);
    control->SetDesktopHeight(768);
    control->SetColorDepth(24);
    control->show();
    control->Connect();
    return control;
}

// Waits for either colour at the centre; false when the time is up or the
// session ended first.
bool WaitForPicture(TMsRdpClient5 &control)
{
    bool wasConnected = false;
    bool ended = false;
    const bool seen = QTest::qWaitFor(
        [&] {
            wasConnected = wasConnected || control.Connected() > 0;
            ended = wasConnected && control.Connected() == 0;
            return ended || Which(control.RemotePixel(QPoint(512, 384))) != 0;
        },
        15000);
    return seen && !ended;
}

std::optional<double> OurFirstFrameMs(int port)
{
    QElapsedTimer timer;
    timer.start();
    auto control = OpenOurs(port);
    if (!WaitForPicture(*control))
        return std::nullopt;
    return double(timer.nsecsElapsed()) / 1e6;
}

// CPU time of the calling thread.
double ThreadCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6 + double(usage.ru_stime.tv_sec)
        + double(usage.ru_stime.tv_usec) / 1e6;
}

// Counts the changes between the two colours seen in samples taken every 5 ms;
// returns the sampler's own CPU time.
template <class Sample>
double CountChanges(Sample sample, int seconds, int *changes)
{
    const double cpu0 = ThreadCpuSeconds();
    int last = Which(sample());
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < seconds * 1000) {
        QThread::msleep(5);
        const int now = Which(sample());
        if (now != 0 && now != last) {
            ++*changes;
            last = now;
        }
    }
    return ThreadCpuSeconds() - cpu0;
}

// Through the relay when one is given: its bytes are counted and its CPU time,
// which this process spends, is taken out.
Figures OurRun(int port, int seconds, bool pipeline = true, const CountingRelay *relay = nullptr, bool avc444 = false)
{
    Figures f;
    auto control = OpenOurs(relay ? relay->Port() : port, pipeline, avc444);
    Counter counter;
    control->installEventFilter(&counter);
    const QPoint centre(512, 384);
    if (!WaitForPicture(*control))
        return f;
    QTest::qWait(500);
    counter.paints = 0;
    int changes = 0;
    double samplerCpu = 0;
    const double cpu0 = SelfCpuSeconds();
    const double relayCpu0 = relay ? relay->CpuSeconds() : 0;
    const uint64_t bytes0 = relay ? relay->Received() : 0;
    QElapsedTimer timer;
    timer.start();
    // The sampler runs on a thread of its own and its CPU time is taken out, as
    // it is for xfreerdp, whose samples are taken by this process.
    std::thread sampler([&] {
        samplerCpu = CountChanges([&] { return control->RemotePixel(centre); }, seconds, &changes);
    });
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    sampler.join();
    f.seconds = double(timer.elapsed()) / 1000;
    f.cpuSeconds = SelfCpuSeconds() - cpu0 - samplerCpu;
    if (relay) {
        f.cpuSeconds -= relay->CpuSeconds() - relayCpu0;
        f.bytes = double(relay->Received() - bytes0);
    }
    f.changesSeen = changes;
    f.framesPainted = counter.paints;
    f.codecs = control->GraphicsCodecs().join(QLatin1Char('+'));
    return f;
}

double OurMemoryPerSession(int port, int sessions)
{
    std::vector<std::unique_ptr<TMsRdpClient5>> open;
    open.push_back(OpenOurs(port));
    (void)QTest::qWaitFor([&] { return open[0]->Connected() > 0; }, 15000);
    QTest::qWait(2000);
    const double before = MemoryMb(getpid(), "VmRSS:");
    for (int i = 1; i <= sessions; ++i)
        open.push_back(OpenOurs(port));
    (void)QTest::qWaitFor([&] { return std::all_of(open.begin(), open.end(), [](auto &c) { return c->Connected() > 0; }); },
                          30000);
    QTest::qWait(3000);
    const double after = MemoryMb(getpid(), "VmRSS:");
    return (after - before) / sessions;
}

// ---- xfreerdp -------------------------------------------------------------------------

using RdpTest::ScreenSampler;
using RdpTest::XfreerdpSession;

std::optional<double> XfreerdpFirstFrameMs(const RdpTest::Display &clientDisplay, int port)
{
    ScreenSampler sampler(clientDisplay.Name());
    QElapsedTimer timer;
    timer.start();
    XfreerdpSession session(clientDisplay, port, XfreerdpCredentials());
    while (timer.elapsed() < 15000) {
        if (Which(sampler.Centre()) != 0)
            return double(timer.nsecsElapsed()) / 1e6;
        QThread::usleep(2000);
    }
    return std::nullopt;
}

Figures XfreerdpRun(const RdpTest::Display &clientDisplay, int port, int seconds, const QStringList &options = {},
                    const CountingRelay *relay = nullptr)
{
    Figures f;
    ScreenSampler sampler(clientDisplay.Name());
    XfreerdpSession session(clientDisplay, relay ? relay->Port() : port, XfreerdpCredentials() + options);
    QElapsedTimer wait;
    wait.start();
    while (Which(sampler.Centre()) == 0 && wait.elapsed() < 15000)
        QThread::msleep(5);
    QThread::msleep(500);
    int last = Which(sampler.Centre());
    int changes = 0;
    const double cpu0 = ProcessCpuSeconds(session.Pid());
    const double display0 = ProcessCpuSeconds(pid_t(clientDisplay.Pid()));
    const uint64_t bytes0 = relay ? relay->Received() : 0;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < seconds * 1000) {
        QThread::msleep(5);
        const int now = Which(sampler.Centre());
        if (now != 0 && now != last) {
            ++changes;
            last = now;
        }
    }
    f.seconds = double(timer.elapsed()) / 1000;
    f.cpuSeconds = ProcessCpuSeconds(session.Pid()) - cpu0;
    f.displayCpuSeconds = ProcessCpuSeconds(pid_t(clientDisplay.Pid())) - display0;
    if (relay)
        f.bytes = double(relay->Received() - bytes0);
    f.changesSeen = changes;
    f.memoryMb = MemoryMb(session.Pid(), "VmRSS:");
    return f;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Print(const char *name, const Figures &f, double firstFrame, double memory)
{
    if (f.seconds <= 0) {
        std::printf("%-10s first frame %7.0f ms | no picture to measure (the session did not hold)\n", name, firstFrame);
        return;
    }
    std::printf("%-10s first frame %7.0f ms | %5.2f CPU s in %4.1f s, %5.1f changes/s seen", name, firstFrame,
                f.cpuSeconds, f.seconds, f.changesSeen / std::max(0.001, f.seconds));
    if (f.framesPainted >= 0)
        std::printf(", %5.1f paints/s", f.framesPainted / std::max(0.001, f.seconds));
    std::printf(", %6.2f CPU ms per change seen", 1000 * f.cpuSeconds / std::max(1.0, f.changesSeen));
    if (f.displayCpuSeconds >= 0)
        std::printf(" (%.2f with its X server's drawing)",
                    1000 * (f.cpuSeconds + f.displayCpuSeconds) / std::max(1.0, f.changesSeen));
    if (memory >= 0)
        std::printf(" | %6.1f MB per session", memory);
    std::printf("\n");
}

// CPU and bytes per change seen, for the runs through the counting relay.
void PrintTransfer(const char *name, const Figures &f)
{
    if (f.seconds <= 0 || f.bytes < 0) {
        std::printf("   %-20s no picture to measure\n", name);
        return;
    }
    const double changes = std::max(1.0, f.changesSeen);
    std::printf("   %-20s %6.2f CPU ms per change", name, 1000 * f.cpuSeconds / changes);
    if (f.displayCpuSeconds >= 0)
        std::printf(" (%6.2f with X)", 1000 * (f.cpuSeconds + f.displayCpuSeconds) / changes);
    else
        std::printf("%16s", "");
    std::printf(" | %7.0f bytes per change, %6.1f KB/s | %5.1f changes/s seen", f.bytes / changes,
                f.bytes / 1024 / std::max(0.001, f.seconds), f.changesSeen / std::max(0.001, f.seconds));
    if (!f.codecs.isEmpty())
        std::printf(" | %s", qPrintable(f.codecs));
    std::printf("\n");
}

// The same figures against xrdp, whose desktop the painter covers on the
// session's own display once a first logon has made the session (later logons
// reconnect to it). The first frame includes xrdp's logon.
void BenchXrdp(const RdpTest::Display &clientDisplay, int seconds, QTimer &answer)
{
    std::printf("\n== xrdp (an RDP stack of its own): the whole screen changes %.0f times a second; %d s per "
                "measurement\n",
                ChangesPerSecond, seconds);
    QString error;
    XrdpTest::Server xrdp;
    if (const QString why = XrdpTest::WhyNotRunnable(); !why.isEmpty() || !xrdp.Start(&error)) {
        std::printf("   skipped: %s\n", qPrintable(why.isEmpty() ? error : why));
        return;
    }
    g_user = XrdpTest::UserName();
    g_password = XrdpTest::Password();
    {
        XfreerdpSession first(clientDisplay, xrdp.Port(), XfreerdpCredentials());
        ScreenSampler screen(clientDisplay.Name());
        QElapsedTimer wait;
        wait.start();
        while (!Near(screen.Centre(), XrdpTest::Background) && wait.elapsed() < 15000)
            QThread::msleep(20);
    }
    QProcess painter;
    painter.setProcessEnvironment(xrdp.SessionEnvironment());
    painter.start(QStringLiteral(BRENNIC_X11_TARGET),
                  {QStringLiteral("--color"), QStringLiteral("336699"), QStringLiteral("--animate"),
                   QString::number(ChangesPerSecond), QStringLiteral("--other"), QStringLiteral("cc6633")});
    if (!painter.waitForReadyRead(5000) || !painter.readLine().startsWith("ready")) {
        std::printf("   skipped: the painter did not start on the session's display %s\n",
                    qPrintable(xrdp.SessionDisplay()));
        return;
    }
    answer.start(5); // xrdp's certificate, asked about once
    std::vector<double> ourFirst;
    std::vector<double> theirFirst;
    for (int round = 0; round < 3; ++round) {
        if (auto ms = XfreerdpFirstFrameMs(clientDisplay, xrdp.Port()))
            theirFirst.push_back(*ms);
        if (auto ms = OurFirstFrameMs(xrdp.Port()))
            ourFirst.push_back(*ms);
        WaitForRdpWorkers(1000);
    }
    answer.stop();
    const Figures theirs = XfreerdpRun(clientDisplay, xrdp.Port(), seconds);
    const Figures ours = OurRun(xrdp.Port(), seconds);
    WaitForRdpWorkers(1000);
    Print("brennic", ours, Median(ourFirst), -1);
    Print("xfreerdp", theirs, Median(theirFirst), theirs.memoryMb);
    std::printf("   (first frame: median of 3, %zu of ours and %zu of xfreerdp's came)\n", ourFirst.size(),
                theirFirst.size());
    RdpTest::StopProcess(painter);
    g_user.clear();
    g_password.clear();
}

} // namespace

int main(int argc, char **argv)
{
    // xrdp finds its session manager on a fixed port: a namespace of our own keeps it ours.
    QString noNamespace;
    PrivateNetwork::Enter(&noNamespace);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    const QString missing = RdpTest::MissingServerPrograms();
    if (!missing.isEmpty() || !RdpTest::HaveProgram(QStringLiteral("xfreerdp"))) {
        std::fprintf(stderr, "session_bench: needs Xvfb, freerdp-shadow-cli, winpr-hash and xfreerdp\n");
        return 1;
    }
    QTemporaryDir store;
    TMsRdpClient5::SetCertificateStoreFolder(store.path());
    // The certificate is trusted once by hand below; the question box would stop the run.
    QString error;
    RdpTest::Display serverDisplay;
    RdpTest::Display clientDisplay;
    RdpTest::Server server;
    if (!serverDisplay.Start(&error) || !clientDisplay.Start(&error)) {
        std::fprintf(stderr, "session_bench: %s\n", qPrintable(error));
        return 1;
    }
    if (!server.Start(serverDisplay, &error)) {
        std::fprintf(stderr, "session_bench: server: %s\n", qPrintable(error));
        return 1;
    }
    CountingRelay relay(server.Port());
    if (relay.Port() == 0) {
        std::fprintf(stderr, "session_bench: the counting relay cannot listen\n");
        return 1;
    }
    // Answer the first certificate question with "trust and remember".
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
                box->button(QMessageBox::Yes)->click();
    });
    answer.start(5);

    // Two scenes: the whole screen changes, or a square of 256 x 256 at its centre.
    for (int square : {0, 256}) {
        RdpTest::Painter painter;
        if (!painter.Start(QStringLiteral(BRENNIC_X11_TARGET), serverDisplay, QStringLiteral("336699"), {},
                           ChangesPerSecond, QStringLiteral("cc6633"), square)) {
            std::fprintf(stderr, "session_bench: painter did not start\n");
            return 1;
        }
        if (square == 0) {
            // The first connection of the process, certificate question included.
            QElapsedTimer cold;
            cold.start();
            auto first = OpenOurs(server.Port());
            (void)QTest::qWaitFor([&] { return Which(first->RemotePixel(QPoint(512, 384))) != 0; }, 15000);
            std::printf("brennic: first connection of the process (certificate trusted by a box answered at once): "
                        "first frame after %.0f ms\n",
                        double(cold.nsecsElapsed()) / 1e6);
            // The relay's port is another server to the store of certificates.
            auto relayed = OpenOurs(relay.Port());
            (void)QTest::qWaitFor([&] { return Which(relayed->RemotePixel(QPoint(512, 384))) != 0; }, 15000);
            answer.stop(); // the certificate is remembered now; its polling would count as our CPU
        }
        WaitForRdpWorkers(1000);
        int serverChanges = 0;
        {
            ScreenSampler onServer(serverDisplay.Name());
            CountChanges([&] { return onServer.Centre(); }, 2, &serverChanges);
        }
        std::printf("\n== server display: %s changes %.0f times a second; %d s per measurement\n",
                    square ? "a 256 x 256 square" : "the whole 1024 x 768 screen", ChangesPerSecond, seconds);
        std::printf("   (sampled on the server's own display: %.1f changes/s)\n", serverChanges / 2.0);
        std::vector<double> ourFirst;
        std::vector<double> theirFirst;
        for (int round = 0; round < 5; ++round) {
            if (auto ms = XfreerdpFirstFrameMs(clientDisplay, server.Port()))
                theirFirst.push_back(*ms);
            if (auto ms = OurFirstFrameMs(server.Port()))
                ourFirst.push_back(*ms);
            WaitForRdpWorkers(1000);
        }
        const Figures theirs = XfreerdpRun(clientDisplay, server.Port(), seconds, {}, &relay);
        const Figures theirsGfx = XfreerdpRun(clientDisplay, server.Port(), seconds, {QStringLiteral("/gfx")}, &relay);
        const Figures theirsAvc =
            XfreerdpRun(clientDisplay, server.Port(), seconds, {QStringLiteral("/gfx:AVC444")}, &relay);
        const Figures oursPlain = OurRun(server.Port(), seconds, false, &relay);
        WaitForRdpWorkers(1000);
        const Figures ours = OurRun(server.Port(), seconds, true, &relay);
        WaitForRdpWorkers(1000);
        const Figures ours444 = OurRun(server.Port(), seconds, true, &relay, true);
        WaitForRdpWorkers(1000);
        const double ourMemory = OurMemoryPerSession(server.Port(), 4);
        WaitForRdpWorkers(1000);
        Print("brennic", ours, Median(ourFirst), ourMemory);
        Print("xfreerdp", theirs, Median(theirFirst), theirs.memoryMb);
        std::printf("   per change seen, through a relay that counts what the server sends:\n");
        PrintTransfer("brennic, pipeline", ours);
        PrintTransfer("brennic, AVC444 too", ours444);
        PrintTransfer("brennic, bitmaps", oursPlain);
        PrintTransfer("xfreerdp /gfx", theirsGfx);
        PrintTransfer("xfreerdp /gfx:AVC444", theirsAvc);
        PrintTransfer("xfreerdp", theirs);
    }
    BenchXrdp(clientDisplay, seconds, answer);
    std::printf("\nfirst frame: median of 5 (3 against xrdp), xfreerdp's includes its process start; memory: brennic's is the RSS "
                "growth per additional session over 4, xfreerdp's the RSS of its process\n");
    std::printf("brennic: graphics pipeline offered unless it says bitmaps; CPU is the process's without the "
                "sampler and the counting relay; xfreerdp's CPU is its process's, \"with X\" adds its X server's "
                "drawing; a change is one of the server's changes of colour seen at the centre\n");
    return 0;
}
