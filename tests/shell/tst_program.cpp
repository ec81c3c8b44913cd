// The whole program as its user starts it: its catalogue beside it, nothing set in
// its environment for the web engine, also when it runs as root; on an X display it
// loads no GL driver (its pages are drawn in software). The switches it hands the
// web engine (the sandbox switch as root, the user's Chromium flags) stay out of the
// environment that the programs it starts inherit.
#include "VirtualDisplay.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

class TestProgram : public QObject {
    Q_OBJECT
private slots:
    void startsAndRendersItsPages_data();
    void startsAndRendersItsPages();
    void printsAndEndsWithoutADisplay_data();
    void printsAndEndsWithoutADisplay();

private:
    static QList<qint64> descendants(qint64 root);
    static int renderers(qint64 root);
    static QByteArray glDriversMapped(qint64 pid);
    static QByteArray engineVariables(const QList<qint64> &pids);
};

QList<qint64> TestProgram::descendants(qint64 root)
{
    QList<qint64> found;
    QList<qint64> pending{root};
    while (!pending.isEmpty() && found.size() < 256) {
        const qint64 parent = pending.takeFirst();
        for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool number = false;
            const qint64 pid = entry.toLongLong(&number);
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            if (!number || !stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray line = stat.readAll();
            if (line.mid(line.lastIndexOf(')') + 2).split(' ').value(1).toLongLong() == parent) {
                found << pid;
                pending << pid;
            }
        }
    }
    return found;
}

// Web engine helpers that render pages: started directly they say so on their
// command line; forked by a zygote they are the children of a helper (and keep its
// command line).
int TestProgram::renderers(qint64 root)
{
    const auto commandLine = [](qint64 pid) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        return cmdline.open(QIODevice::ReadOnly) ? cmdline.readAll() : QByteArray();
    };
    const auto isHelper = [&](qint64 pid) { return commandLine(pid).contains("QtWebEngineProcess"); };
    int count = 0;
    for (const qint64 pid : descendants(root)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qint64 parent = line.mid(line.lastIndexOf(')') + 2).split(' ').value(1).toLongLong();
        if (!isHelper(pid))
            continue;
        if (commandLine(pid).contains("--type=renderer") || (parent != root && isHelper(parent)))
            ++count;
    }
    return count;
}

// GL drivers and Qt's X11 GL integration among the process's mapped files.
QByteArray TestProgram::glDriversMapped(qint64 pid)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly))
        return "(maps unreadable)";
    QByteArray found;
    for (const QByteArray &line : maps.readAll().split('\n'))
        if ((line.contains("_dri.so") || line.contains("libGLX_") || line.contains("xcbglintegrations"))
            && !found.contains(line.mid(line.lastIndexOf(' ') + 1)))
            found += line.mid(line.lastIndexOf(' ') + 1) + ' ';
    return found;
}

// The web engine's variables found in the environments of the given processes.
QByteArray TestProgram::engineVariables(const QList<qint64> &pids)
{
    QByteArray found;
    for (const qint64 pid : pids) {
        QFile environment(QStringLiteral("/proc/%1/environ").arg(pid));
        if (!environment.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &entry : environment.readAll().split('\0'))
            if (entry.startsWith("QTWEBENGINE_DISABLE_SANDBOX=") || entry.startsWith("QTWEBENGINE_CHROMIUM_FLAGS="))
                found += QByteArray::number(pid) + ": " + entry + ' ';
    }
    return found;
}

void TestProgram::startsAndRendersItsPages_data()
{
    QTest::addColumn<QString>("platform");
    QTest::addColumn<QString>("chromiumFlags"); // set in the program's environment when not empty
    QTest::newRow("offscreen") << QStringLiteral("offscreen") << QString();
    QTest::newRow("X display") << QStringLiteral("xcb") << QString();
    QTest::newRow("X display, Chromium flags from the environment") << QStringLiteral("xcb")
                                                                    << QStringLiteral("--disable-gpu");
}

void TestProgram::startsAndRendersItsPages()
{
    QFETCH(QString, platform);
    QFETCH(QString, chromiumFlags);
    TestDisplay::Display display;
    if (platform == QStringLiteral("xcb")) {
        if (!TestDisplay::HaveProgram(QStringLiteral("Xvfb")))
            QSKIP("Xvfb is not installed (scripts/setup.sh installs it)");
        QString error;
        QVERIFY2(display.Start(&error), qPrintable(error));
    }
    QTemporaryDir folder;
    const QString program = folder.filePath(QStringLiteral("brennic"));
    QVERIFY(QFile::copy(QStringLiteral(BRENNIC_PROGRAM), program));
    QFile catalogue(folder.filePath(QStringLiteral("SvrList.ini")));
    QVERIFY(catalogue.open(QIODevice::WriteOnly));
    catalogue.write("[MISC]\nMaxGroupID=1\nMaxServerId=1\n\n[GroupItem1]\nGroupName=A\n\n"
                    "[ServerItem1]\nGroupId=1\nDescription=d\nServer=127.0.0.1\nPort=3389\nDomain=\nUser=u\n"
                    "Password=\nWidth=1024\nHeight=768\nFullScreen=0\nColorDeepth=24\n");
    catalogue.close();
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("runtime")));
    QFile::setPermissions(folder.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"));
    environment.remove(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"));
    environment.remove(QStringLiteral("QT_XCB_GL_INTEGRATION"));
    if (!chromiumFlags.isEmpty())
        environment.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"), chromiumFlags);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    if (platform == QStringLiteral("xcb"))
        environment.insert(QStringLiteral("DISPLAY"), display.Name());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder.filePath(QStringLiteral("runtime")));
    // In the sanitizer build: the web engine's own sized deletes are not this program's.
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("new_delete_type_mismatch=0:detect_leaks=0"));
    QProcess run;
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(program, {});
    QVERIFY(run.waitForStarted(5000));

    // The default page and the banner, both the program's own, share one renderer:
    // a second one would have come within moments of the first.
    QElapsedTimer limit;
    limit.start();
    while (run.state() == QProcess::Running && renderers(run.processId()) < 1 && limit.elapsed() < 30000)
        QTest::qWait(100);
    QTest::qWait(2000);
    const int rendering = run.state() == QProcess::Running ? renderers(run.processId()) : 0;
    const QByteArray glDrivers = glDriversMapped(run.processId());
    const QList<qint64> children = descendants(run.processId());
    const QByteArray inherited = engineVariables(children);
    const bool stillRunning = run.state() == QProcess::Running;
    run.terminate();
    if (!run.waitForFinished(10000)) {
        run.kill();
        run.waitForFinished(5000);
    }
    const QByteArray output = run.readAll();
    QVERIFY2(stillRunning, output.constData());
    QVERIFY2(rendering == 1, output.constData());
    QVERIFY(!output.contains("without --no-sandbox"));
    QVERIFY2(glDrivers.isEmpty(), glDrivers.constData());
    QVERIFY(!children.isEmpty());
    QVERIFY2(inherited.isEmpty(), inherited.constData());
    qInfo("euid %u, %s: the program ran with %d renderers", unsigned(geteuid()), qPrintable(platform), rendering);
}

// --version and --help answer on a machine without a display, before any window.
void TestProgram::printsAndEndsWithoutADisplay_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("expected"); // a line of what it prints
    QTest::newRow("--version") << QStringLiteral("--version") << QStringLiteral("Brennic " BRENNIC_VERSION " " BRENNIC_CODENAME);
    QTest::newRow("-v") << QStringLiteral("-v") << QStringLiteral("Brennic " BRENNIC_VERSION " " BRENNIC_CODENAME);
    QTest::newRow("--help") << QStringLiteral("--help") << QStringLiteral("  --version, -v  显示版本号，然后退出");
    QTest::newRow("-h") << QStringLiteral("-h") << QStringLiteral("  --help, -h   显示本说明，然后退出");
}

void TestProgram::printsAndEndsWithoutADisplay()
{
    QFETCH(QString, option);
    QFETCH(QString, expected);
    QTemporaryDir home;
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    environment.insert(QStringLiteral("HOME"), home.path());
    QProcess run;
    run.setProcessEnvironment(environment); // no DISPLAY, no WAYLAND_DISPLAY, no QT_QPA_PLATFORM
    run.start(QStringLiteral(BRENNIC_PROGRAM), {option});
    QVERIFY(run.waitForFinished(20000));
    const QString out = QString::fromUtf8(run.readAllStandardOutput());
    const QString err = QString::fromUtf8(run.readAllStandardError());
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QVERIFY2(run.exitCode() == 0, qPrintable(err));
    QVERIFY2(out.split(QLatin1Char('\n')).contains(expected), qPrintable(out));
    QVERIFY2(err.isEmpty(), qPrintable(err));
    QVERIFY(QDir(home.path()).isEmpty()); // nothing made in the user's folders
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
