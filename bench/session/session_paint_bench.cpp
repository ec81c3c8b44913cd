// CPU per changed frame of one session drawn to an X server: the client process
// and the X server that shows its window, while the remote desktop changes at a
// fixed rate (the shadow server on a display whose whole screen alternates two
// colours). Run through run.sh, which starts the displays and the server.
//
//   session_paint_bench PORT SECONDS CHANGES_PER_SECOND XSERVER_PID [gfx|bitmap]

#include "MsRdpClient5.h"
#include "ProcessCpu.h"

#include <QApplication>
#include <QDir>
#include <QMap>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

namespace {

double PssMb()
{
    QFile file(QStringLiteral("/proc/self/smaps_rollup"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith("Pss:"))
            return line.mid(4).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

// CPU seconds of each thread of this process, by thread id, with its name.
QMap<QString, QPair<QString, double>> ThreadCpu()
{
    QMap<QString, QPair<QString, double>> threads;
    const double ticks = double(sysconf(_SC_CLK_TCK));
    for (const QString &tid : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QByteArray name = text.mid(text.indexOf('(') + 1, text.lastIndexOf(')') - text.indexOf('(') - 1);
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        threads[tid] = {QString::fromLatin1(name), (fields.value(11).toDouble() + fields.value(12).toDouble()) / ticks};
    }
    return threads;
}

// Counts the paints of the session's widgets.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s PORT SECONDS CHANGES_PER_SECOND XSERVER_PID [gfx|bitmap]\n", argv[0]);
        return 2;
    }
    const int port = QByteArray(argv[1]).toInt();
    const double seconds = QByteArray(argv[2]).toDouble();
    const double rate = QByteArray(argv[3]).toDouble();
    const pid_t xserver = pid_t(QByteArray(argv[4]).toInt());
    const bool gfx = argc < 6 || QByteArray(argv[5]) != "bitmap";

    QTemporaryDir store;
    TMsRdpClient5::SetCertificateStoreFolder(store.path());
    QWidget window;
    auto *control = new TMsRdpClient5(&window);
    window.setFixedSize(1024, 768);
    control->setGeometry(0, 0, 1024, 768);
    control->SetServer(QStringLiteral("127.0.0.1"));
    control->AdvancedSettings2()->SetRDPPort(port);
    control->SetDesktopWidth(1024);
    control->SetDesktopHeight(768);
    control->SetColorDepth(32);
    control->SetGraphicsPipeline(gfx);
    control->SetDynamicResolution(false);
    window.show();

    // Trusts the server's certificate: the question is a message box.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            box->button(QMessageBox::Yes)->click();
    });
    answer.start(20);
    bool ended = false;
    QObject::connect(control, &TMsRdpClient5::OnDisconnected, [&] { ended = true; });
    QObject::connect(control, &TMsRdpClient5::OnFatalError, [&] { ended = true; });
    control->Connect();
    if (!QTest::qWaitFor([&] { return control->Connected() > 0 || ended; }, 15000) || ended) {
        std::fprintf(stderr, "no connection\n");
        return 1;
    }
    QTest::qWait(3000); // the first frames and the codecs' start

    PaintCounter counter;
    app.installEventFilter(&counter);
    const auto threads0 = ThreadCpu();
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const double x0 = ProcessCpuSeconds(xserver);
    QElapsedTimer timer;
    timer.start();
    QTest::qWait(int(seconds * 1000));
    const double elapsed = timer.elapsed() / 1000.0;
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const double x1 = ProcessCpuSeconds(xserver);
    const auto secs = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    const double client = secs(after.ru_utime) - secs(before.ru_utime) + secs(after.ru_stime) - secs(before.ru_stime);
    const double changes = rate * elapsed;
    std::printf("%s: %.1f s, %d paints, codecs %s\n", gfx ? "gfx" : "bitmap", elapsed, counter.paints,
                qPrintable(control->GraphicsCodecs().join(QLatin1Char(','))));
    std::printf("client %.2f CPU ms per change, X server %.2f, together %.2f; PSS %.1f MB\n",
                1000 * client / changes, 1000 * (x1 - x0) / changes, 1000 * (client + x1 - x0) / changes, PssMb());
    const auto threads1 = ThreadCpu();
    std::printf("per thread, CPU ms per change:");
    for (auto it = threads1.begin(); it != threads1.end(); ++it) {
        const double used = it->second - threads0.value(it.key()).second;
        if (used > 0)
            std::printf(" %s %.2f;", qPrintable(it->first), 1000 * used / changes);
    }
    std::printf("\nthreads %d, VmRSS ", int(threads1.size()));
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                std::printf("%s", line.mid(6).trimmed().constData());
    std::printf("\n");
    control->Cancel();
    return 0;
}
