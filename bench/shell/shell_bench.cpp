// Start-up and memory of the whole program: the time from the process's start to
// the manager's list filled with 1,000 and with 10,000 servers, and the memory of
// the process tree (the program and its web engine helpers) with the manager and
// the default web tab loaded. Each size runs in a fresh process of its own.
#include "LogonForm.h"
#include "Main.h"
#include "ManagerHost.h"
#include "RdpCommon.h"
#include "StandInManager.h"
#include "WebBrowser.h"
#include "WebEngineSetup.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <cstdio>
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

void WriteCatalogue(const QString &path, int servers)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    QTextStream out(&file);
    const int groups = 20;
    out << "[MISC]\nMaxGroupID=" << groups << "\nMaxServerId=" << servers << "\n\n";
    for (int g = 1; g <= groups; ++g)
        out << "[GroupItem" << g << "]\nGroupName=机房 " << g << "\n\n";
    for (int s = 1; s <= servers; ++s)
        out << "[ServerItem" << s << "]\nGroupId=" << (s % groups) + 1 << "\nDescription=服务器 " << s
            << "\nServer=127." << (s >> 16) % 256 << '.' << (s >> 8) % 256 << '.' << s % 256 << "\nPort=3389"
            << "\nDomain=\nUser=administrator\nPassword=\nWidth=1024\nHeight=768\nFullScreen=0\nColorDeepth=24\n\n";
}

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
    PrepareWebEngine();
    QApplication app(argc, argv);
    UseIniFile(iniPath);
    int result = 0;
    {
        TFormMain FormMain;
        const std::unique_ptr<QWidget> frmMgmt = CreateManager(standIn);
        TfrmLogon frmLogon;
        const std::unique_ptr<QWidget> frmGrpName = CreateGroupNameWindow();
        FormMain.SetManager(frmMgmt.get());
        auto *defaultTab = FormMain.findChild<WebBrowser *>(QStringLiteral("WebBrowser1"));
        QSignalSpy webTabLoaded(defaultTab, &WebBrowser::DocumentComplete);

        FormMain.show();
        auto *list = frmMgmt->findChild<QAbstractItemView *>(QStringLiteral("lvSvr"));
        QElapsedTimer limit;
        limit.start();
        while (list && list->model()->rowCount() < servers && limit.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::processEvents(); // the first paint of the filled list
        const double filledMs = ProcessAgeMs();
        const int rows = list ? list->model()->rowCount() : -1;

        if (webTabLoaded.isEmpty())
            webTabLoaded.wait(20000);
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        const TreeMemory memory = MemoryOfTree(QCoreApplication::applicationPid());
        std::printf("%d %.0f %d %d %lld %lld %d %s\n", servers, filledMs, rows, memory.processes,
                    memory.rssKb / 1024, memory.pssKb / 1024, webTabLoaded.isEmpty() ? 0 : 1,
                    frmMgmt->metaObject()->className());
        result = rows >= servers ? 0 : 1;
    }
    ReleaseCatalogue();
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 5 && QByteArray(argv[1]) == "--run")
        return RunOnce(argc, argv, QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt(),
                       QByteArray(argv[4]) == "stand-in");

    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    std::printf("Start-up to the manager's list filled, and memory of the whole process tree\n"
                "(manager + default web tab). Platform: %s; each line a fresh process.\n\n",
                qgetenv("QT_QPA_PLATFORM").isEmpty() ? "default" : qgetenv("QT_QPA_PLATFORM").constData());
    std::printf("%8s %10s %8s %10s %12s %12s  %s\n", "servers", "filled ms", "rows", "processes", "tree RSS MB",
                "tree PSS MB", "manager");
    int status = 0;
    const QStringList variants{QStringLiteral("manager"), QStringLiteral("stand-in")};
    for (const int servers : {1000, 10000}) {
        const QString ini = folder.filePath(QStringLiteral("SvrList-%1.ini").arg(servers));
        WriteCatalogue(ini, servers);
        for (int round = 0; round < 6; ++round) {
            QProcess run;
            run.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            run.start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--run"), ini, QString::number(servers), variants.at(round % 2)});
            if (!run.waitForFinished(180000)) {
                run.kill();
                run.waitForFinished();
            }
            const QList<QByteArray> f = run.readAllStandardOutput().trimmed().split(' ');
            if (f.size() < 8) {
                std::printf("%8d   run failed (exit %d)\n", servers, run.exitCode());
                status = 1;
                continue;
            }
            std::printf("%8s %10s %8s %10s %12s %12s  %s%s\n", f[0].constData(), f[1].constData(), f[2].constData(),
                        f[3].constData(), f[4].constData(), f[5].constData(), f[7].constData(),
                        f[6] == "1" ? "" : " (web tab not loaded)");
        }
    }
    std::printf("\nrows: the list's rows (servers and group rows). stand-in: a plain list in the manager's place.\n"
                "tree RSS: each process's resident pages added up, shared ones counted in every process;\n"
                "tree PSS: shared pages divided among the processes that share them (the real total).\n");
    std::printf("Targets: filled under 1000 ms with 1,000 servers and under 2000 ms with 10,000; tree under 250 MB.\n");
    return status;
}
