// One start of the whole program for the start-up benchmark (shell_bench runs it):
//   shell_start <catalogue.ini> <servers> manager|stand-in|engine-only
// builds the windows as the program's entry does, with the catalogue at the given
// file, and prints one line: servers, ms from the process's start to the manager's
// list filled, rows, processes in its tree, tree RSS MB, tree PSS MB (once the tree
// has stopped growing), whether the web tab loaded, the manager's class, ms to the
// main window's first paint (the list on screen), ms to both web pages (the default
// page and the banner) loaded, and the CPU ms this process had used by then (all its
// threads; the renderer is a process of its own).
// "engine-only" is the floor under all of it: one window holding one web control with
// the banner page, made through the same engine set-up, and nothing else of the program.
#include "LogonForm.h"
#include "Main.h"
#include "ManagerHost.h"
#include "RdpCommon.h"
#include "ShellPages.h"
#include "StandInManager.h"
#include "WebBrowser.h"
#include "WebEngineSetup.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QSignalSpy>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>
#include <sys/times.h>
#include <unistd.h>

namespace {

// Milliseconds since this process was started by the kernel (10 ms steps).
double ProcessAgeMs()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    QFile uptime(QStringLiteral("/proc/uptime"));
    if (!stat.open(QIODevice::ReadOnly) || !uptime.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double startedS = fields.value(19).toDouble() / double(sysconf(_SC_CLK_TCK));
    const double nowS = uptime.readAll().split(' ').value(0).toDouble();
    return (nowS - startedS) * 1000.0;
}

// CPU milliseconds used so far by this process, all its threads together.
double ProcessCpuMs()
{
    tms times{};
    ::times(&times);
    return double(times.tms_utime + times.tms_stime) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

QList<qint64> Children(qint64 pid)
{
    QList<qint64> children;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 candidate = entry.toLongLong(&number);
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(candidate));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1).toLongLong() == pid)
            children << candidate;
    }
    return children;
}

// Kilobytes of one field of /proc/<pid>/smaps_rollup.
qint64 RollupKb(qint64 pid, const QByteArray &field)
{
    QFile file(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// Runs the event loop until done() holds or limitMs have passed. The loop sleeps
// while no event is due, waking at least every WakeMs to look again: a loop that
// spun would count as the program's CPU time and take a core from the web engine.
template <class Done>
void RunEventsUntil(Done done, int limitMs)
{
    constexpr int WakeMs = 10;
    QTimer wake;
    wake.start(WakeMs);
    QElapsedTimer limit;
    limit.start();
    while (!done() && limit.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

struct TreeMemory {
    int processes = 0;
    qint64 rssKb = 0;
    qint64 pssKb = 0;
};

TreeMemory MemoryOfTree(qint64 root)
{
    TreeMemory memory;
    QList<qint64> pending{root};
    while (!pending.isEmpty() && memory.processes < 256) {
        const qint64 pid = pending.takeFirst();
        ++memory.processes;
        memory.rssKb += RollupKb(pid, "Rss");
        memory.pssKb += RollupKb(pid, "Pss");
        pending << Children(pid);
    }
    return memory;
}

// The tree's memory once it has stopped growing: the renderers keep growing for a
// few seconds after their pages have loaded. Sampled each second, with the program
// running in between, until two samples are within 1 MB (at least 5 s, at most 30 s).
TreeMemory SettledMemoryOfTree()
{
    const qint64 self = QCoreApplication::applicationPid();
    QElapsedTimer settle;
    settle.start();
    TreeMemory previous = MemoryOfTree(self);
    for (int sample = 0; sample < 30; ++sample) {
        RunEventsUntil([] { return false; }, 1000);
        const TreeMemory now = MemoryOfTree(self);
        if (settle.elapsed() >= 5000 && qAbs(now.pssKb - previous.pssKb) < 1024)
            return now;
        previous = now;
    }
    return previous;
}

// Notes the process's age at the first paint of a window.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(QWidget *window) : window_(window) { window->installEventFilter(this); }
    double Ms() const { return ms_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == window_ && event->type() == QEvent::Paint && ms_ < 0)
            ms_ = ProcessAgeMs();
        return false;
    }

private:
    QWidget *window_;
    double ms_ = -1;
};

std::unique_ptr<QWidget> CreateManager(bool standIn)
{
    if (!standIn)
        return CreateManagerWindow();
    auto manager = std::make_unique<TStandInManager>();
    PlaceBannerAndLink(manager->TopPanel());
    return manager;
}

// One start of the program with the catalogue at iniPath; prints one line of figures.
int RunOnce(int argc, char *argv[], const QString &iniPath, int servers, bool standIn)
{
    WebEngineArguments arguments = PrepareWebEngine(argc, argv);
    QApplication app(arguments.Count(), arguments.Values());
    UseIniFile(iniPath);
    HoldWebPages();
    int result = 0;
    {
        TFormMain FormMain;
        const std::unique_ptr<QWidget> frmMgmt = CreateManager(standIn);
        TfrmLogon frmLogon;
        const std::unique_ptr<QWidget> frmGrpName = CreateGroupNameWindow();
        FormMain.SetManager(frmMgmt.get());
        auto *defaultTab = FormMain.findChild<WebBrowser *>(QStringLiteral("WebBrowser1"));
        QSignalSpy webTabLoaded(defaultTab, &WebBrowser::DocumentComplete);
        auto *banner = frmMgmt->findChild<WebBrowser *>(QStringLiteral("BannerPage"));
        QSignalSpy bannerLoaded(banner, &WebBrowser::DocumentComplete);
        FirstPaint painted(&FormMain);
        double pagesMs = -1;
        double pagesCpuMs = -1;
        const auto notePages = [&] {
            if (pagesMs < 0 && !webTabLoaded.isEmpty() && (!banner || !bannerLoaded.isEmpty())) {
                pagesMs = ProcessAgeMs();
                pagesCpuMs = ProcessCpuMs();
            }
        };
        QObject::connect(defaultTab, &WebBrowser::DocumentComplete, &app, notePages, Qt::QueuedConnection);
        if (banner)
            QObject::connect(banner, &WebBrowser::DocumentComplete, &app, notePages, Qt::QueuedConnection);

        ReleaseWebPagesOncePainted(&FormMain);
        FormMain.show();
        auto *list = frmMgmt->findChild<QAbstractItemView *>(QStringLiteral("lvSvr"));
        RunEventsUntil([&] { return !list || list->model()->rowCount() >= servers; }, 60000);
        QCoreApplication::processEvents(); // the first paint of the filled list
        const double filledMs = ProcessAgeMs();
        const int rows = list ? list->model()->rowCount() : -1;

        RunEventsUntil([&] { return pagesMs >= 0 && painted.Ms() >= 0; }, 20000);
        const TreeMemory memory = SettledMemoryOfTree();
        std::printf("%d %.0f %d %d %lld %lld %d %s %.0f %.0f %.0f\n", servers, filledMs, rows, memory.processes,
                    memory.rssKb / 1024, memory.pssKb / 1024, webTabLoaded.isEmpty() ? 0 : 1,
                    frmMgmt->metaObject()->className(), painted.Ms(), pagesMs, pagesCpuMs);
        result = rows >= servers ? 0 : 1;
    }
    ReleaseCatalogue();
    return result;
}

// The floor: one window with one web control showing the banner page, started the
// way the program starts its pages (held until the window has painted).
int RunEngineOnly(int argc, char *argv[])
{
    WebEngineArguments arguments = PrepareWebEngine(argc, argv);
    QApplication app(arguments.Count(), arguments.Values());
    HoldWebPages();
    QWidget window;
    window.resize(1008, 701);
    auto *layout = new QVBoxLayout(&window);
    WebBrowser *page = CreateWebBrowser(&window);
    layout->addWidget(page);
    QSignalSpy loaded(page, &WebBrowser::DocumentComplete);
    page->Navigate(BannerPageUrl());
    FirstPaint painted(&window);
    ReleaseWebPagesOncePainted(&window);
    window.show();
    const double shownMs = ProcessAgeMs();
    RunEventsUntil([&] { return !loaded.isEmpty() && painted.Ms() >= 0; }, 20000);
    const double pagesMs = ProcessAgeMs();
    const double pagesCpuMs = ProcessCpuMs();
    const TreeMemory memory = SettledMemoryOfTree();
    std::printf("0 %.0f 0 %d %lld %lld %d engine-only %.0f %.0f %.0f\n", shownMs, memory.processes,
                memory.rssKb / 1024, memory.pssKb / 1024, loaded.isEmpty() ? 0 : 1, painted.Ms(), pagesMs, pagesCpuMs);
    return loaded.isEmpty() ? 1 : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: shell_start <catalogue.ini> <servers> manager|stand-in|engine-only\n");
        return 2;
    }
    if (QByteArray(argv[3]) == "engine-only")
        return RunEngineOnly(argc, argv);
    return RunOnce(argc, argv, QString::fromLocal8Bit(argv[1]), QByteArray(argv[2]).toInt(),
                   QByteArray(argv[3]) == "stand-in");
}
