// The program started with a session to open and nothing else: "brennic FILE.rdp"
// as a file manager runs it, and "brennic --connect ADDRESS". The real program on
// its own X display against the shadow server: the session window shows the
// remote desktop, and the program ends when that window is closed. A file or an
// address that cannot be used is told and the program ends with no window left.
// Several sessions on one command line open in one process, a window each; a
// session process never maps the web engine, which only the manager's pages need.

#include "RdpTestServer.h"
#include "SessionLaunch.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// Last: Xlib defines names that Qt uses.
#include "XWindowProbe.h"
#include "XfreerdpClient.h"

namespace {

constexpr QRgb ServerColour = 0x336699;
constexpr int ShowMs = 20000;
constexpr int EndMs = 10000;

bool Near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) <= 16 && std::abs(qGreen(a) - qGreen(b)) <= 16
        && std::abs(qBlue(a) - qBlue(b)) <= 16;
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// The web engine's libraries (and those only it brings) that the process has mapped.
QStringList WebEngineLibrariesMapped(qint64 pid)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly))
        return {QStringLiteral("(cannot read %1)").arg(maps.fileName())};
    QStringList found;
    const QByteArray text = maps.readAll();
    for (const char *library : {"libQt6WebEngine", "libQt6Quick", "libQt6Qml", "libnss3", "brennic_web_"})
        if (text.contains(library))
            found << QString::fromLatin1(library);
    return found;
}

QByteArray Utf16WithMark(const QString &text)
{
    QByteArray bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    return bytes;
}

} // namespace

class TestSessionLaunch : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void opensTheSessionAndEndsWithIt_data();
    void opensTheSessionAndEndsWithIt();
    void opensSeveralSessionsInOneProcess();
    void refusesWithNoWindowLeft_data();
    void refusesWithNoWindowLeft();

private:
    void Start(QProcess &program, const QStringList &arguments);
    bool WaitForBox(RdpTest::WindowProbe &probe, QProcess &program);
    // Answers the certificate questions until count session windows show the remote desktop.
    bool WaitForSessions(RdpTest::WindowProbe &probe, QProcess &program, int count);

    QString whyNot_;
    QTemporaryDir folder_;
    RdpTest::Display serverDisplay_;
    RdpTest::Display clientDisplay_;
    RdpTest::Painter painter_;
    RdpTest::Server server_;
};

void TestSessionLaunch::initTestCase()
{
    if (const QString missing = RdpTest::MissingServerPrograms(); !missing.isEmpty()) {
        whyNot_ = QStringLiteral("not installed: %1 (scripts/setup.sh --tests installs them)").arg(missing);
        return;
    }
    QString error;
    QVERIFY2(serverDisplay_.Start(&error), qPrintable(error));
    QVERIFY2(clientDisplay_.Start(&error), qPrintable(error));
    QVERIFY(painter_.Start(QStringLiteral(BRENNIC_X11_TARGET), serverDisplay_, QStringLiteral("336699")));
    QVERIFY2(server_.Start(serverDisplay_, &error), qPrintable(error));
}

void TestSessionLaunch::Start(QProcess &program, const QStringList &arguments)
{
    QProcessEnvironment environment = clientDisplay_.Environment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("HOME"), folder_.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), folder_.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder_.path());
    // No session bus: Qt would start one, which would outlive the test.
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(BRENNIC_PROGRAM), arguments);
    QVERIFY(program.waitForStarted(5000));
}

void TestSessionLaunch::opensTheSessionAndEndsWithIt_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("--connect HOST:PORT") << QStringLiteral("connect");
    QTest::newRow("--connect=HOST:PORT") << QStringLiteral("connect=");
    QTest::newRow("file as the Windows client writes it") << QStringLiteral("utf16");
    QTest::newRow("file with the port apart and no size") << QStringLiteral("port apart");
}

void TestSessionLaunch::opensTheSessionAndEndsWithIt()
{
    if (!whyNot_.isEmpty())
        QSKIP(qPrintable(whyNot_));
    QFETCH(QString, how);
    const QString address = QStringLiteral("127.0.0.1:%1").arg(server_.Port());
    const QString file = folder_.filePath(QStringLiteral("会话 一.RDP"));
    QStringList arguments;
    if (how == QStringLiteral("connect")) {
        arguments = {QStringLiteral("--connect"), address};
    } else if (how == QStringLiteral("connect=")) {
        arguments = {QStringLiteral("--connect=") + address};
    } else if (how == QStringLiteral("utf16")) {
        WriteFile(file, Utf16WithMark(QStringLiteral("screen mode id:i:1\r\ndesktopwidth:i:1024\r\ndesktopheight:i:768\r\n"
                                                     "session bpp:i:32\r\nfull address:s:%1\r\n")
                                          .arg(address)));
        arguments = {file};
    } else {
        WriteFile(file, QStringLiteral("full address:s:127.0.0.1\nserver port:i:%1\n").arg(server_.Port()).toUtf8());
        arguments = {file};
    }
    QProcess program;
    Start(program, arguments);

    // The window is centred on a screen of its size: the remote desktop fills it.
    // The server's certificate is trusted when asked about (the first time only).
    RdpTest::ScreenSampler screen(clientDisplay_.Name());
    RdpTest::WindowProbe probe(clientDisplay_.Name());
    QElapsedTimer shown;
    shown.start();
    while (!Near(screen.Centre(), ServerColour) && program.state() == QProcess::Running && shown.elapsed() < ShowMs) {
        if (const Window question = probe.Find(QStringLiteral("brennic")))
            probe.PressReturn(question);
        QTest::qWait(50);
    }
    QVERIFY2(Near(screen.Centre(), ServerColour), program.readAllStandardError().constData());
    qInfo("the remote desktop showed %lld ms after the start", shown.elapsed());
    const QStringList web = WebEngineLibrariesMapped(program.processId());
    QVERIFY2(web.isEmpty(), qPrintable(web.join(QStringLiteral(", "))));

    const Window window = probe.Find(QStringLiteral("127.0.0.1 - Remote Desktop"));
    QVERIFY(window != 0);
    QCOMPARE(probe.MappedTitles().size(), 1); // no manager, no main window
    probe.Close(window);
    QVERIFY2(program.waitForFinished(EndMs), "the program outlived its session window");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

bool TestSessionLaunch::WaitForSessions(RdpTest::WindowProbe &probe, QProcess &program, int count)
{
    RdpTest::ScreenSampler screen(clientDisplay_.Name());
    const auto sessions = [&] {
        int shown = 0;
        for (const auto &[window, title] : probe.MappedTitles())
            shown += title == QStringLiteral("127.0.0.1 - Remote Desktop");
        return shown;
    };
    QElapsedTimer waited;
    waited.start();
    while (program.state() == QProcess::Running && waited.elapsed() < ShowMs) {
        if (sessions() == count && Near(screen.Centre(), ServerColour))
            return true;
        if (const Window question = probe.Find(QStringLiteral("brennic")))
            probe.PressReturn(question);
        QTest::qWait(50);
    }
    return false;
}

// A file and an address on one command line: two windows of one process, which
// ends with the last of them.
void TestSessionLaunch::opensSeveralSessionsInOneProcess()
{
    if (!whyNot_.isEmpty())
        QSKIP(qPrintable(whyNot_));
    const QString file = folder_.filePath(QStringLiteral("two.rdp"));
    WriteFile(file, QStringLiteral("full address:s:127.0.0.1:%1\n").arg(server_.Port()).toUtf8());
    QProcess program;
    Start(program, {file, QStringLiteral("--connect"), QStringLiteral("127.0.0.1:%1").arg(server_.Port())});
    RdpTest::WindowProbe probe(clientDisplay_.Name());
    QVERIFY2(WaitForSessions(probe, program, 2), program.readAllStandardError().constData());

    const QList<QPair<Window, QString>> windows = probe.MappedTitles();
    QCOMPARE(windows.size(), 2);
    for (const auto &[window, title] : windows)
        QCOMPARE(probe.Pid(window), program.processId());
    const QStringList web = WebEngineLibrariesMapped(program.processId());
    QVERIFY2(web.isEmpty(), qPrintable(web.join(QStringLiteral(", "))));

    probe.Close(windows.front().first);
    QVERIFY2(!program.waitForFinished(1000), "the program ended with its first window");
    QCOMPARE(probe.MappedTitles().size(), 1);
    probe.Close(windows.back().first);
    QVERIFY2(program.waitForFinished(EndMs), "the program outlived its last session window");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

bool TestSessionLaunch::WaitForBox(RdpTest::WindowProbe &probe, QProcess &program)
{
    QElapsedTimer waited;
    waited.start();
    while (program.state() == QProcess::Running && waited.elapsed() < EndMs) {
        if (probe.Find(QStringLiteral("brennic")))
            return true;
        QTest::qWait(50);
    }
    return false;
}

void TestSessionLaunch::refusesWithNoWindowLeft_data()
{
    QTest::addColumn<QStringList>("arguments"); // FILE is the file written with `content`
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("told");
    const QStringList file{QStringLiteral("FILE")};
    const QString blank = QStringLiteral("地址中不能有空格或控制字符");
    const QString unopened = QStringLiteral("无法打开连接文件");
    QTest::newRow("--connect with a blank before a port") << QStringList{QStringLiteral("--connect"), QStringLiteral("127.0.0.1:9 x")} << QByteArray() << blank;
    QTest::newRow("--connect with a control character") << QStringList{QStringLiteral("--connect=127.0.0.1\x01:9")} << QByteArray() << blank;
    QTest::newRow("--connect to a descriptor") << QStringList{QStringLiteral("--connect=|3")} << QByteArray() << QStringLiteral("地址不能以");
    QTest::newRow("--connect to a socket path") << QStringList{QStringLiteral("--connect"), QStringLiteral("/tmp/.X11-unix/X0")} << QByteArray() << QStringLiteral("地址不能以");
    QTest::newRow("--connect with a port out of range") << QStringList{QStringLiteral("--connect"), QStringLiteral("127.0.0.1:70000")} << QByteArray() << QStringLiteral("请写成");
    QTest::newRow("file missing") << QStringList{QStringLiteral("/nonexistent/x.rdp")} << QByteArray() << unopened;
    QTest::newRow("file empty") << file << QByteArray("") << unopened;
    QTest::newRow("file of no settings") << file << QByteArray("\x7f"
                                                               "ELF\x02\x01\x01\0\0\0",
                                                               10)
                                         << unopened;
    QTest::newRow("file without an address") << file << QByteArray("username:s:u\n") << QStringLiteral("没有服务器地址");
    QTest::newRow("file with a blank in the address") << file << QByteArray("full address:s:127.0.0.1:9 x\n") << blank;
    QTest::newRow("file with a control character in the address") << file << QByteArray("full address:s:host\x01name\n") << blank;
    QTest::newRow("file with a damaged number") << file << QByteArray("full address:s:127.0.0.1\nserver port:i:x\n") << unopened;
    QTest::newRow("file too large") << file << QByteArray("full address:s:127.0.0.1\n").append(MaxSessionFileSize, ' ') << unopened;
    // One that cannot be used refuses them all, each reason told ("|" parts all told).
    QTest::newRow("a usable address and a refused file")
        << QStringList{QStringLiteral("--connect"), QStringLiteral("127.0.0.1:9"), QStringLiteral("FILE")} << QByteArray("username:s:u\n") << QStringLiteral("没有服务器地址");
    QTest::newRow("two refused addresses")
        << QStringList{QStringLiteral("--connect=|3"), QStringLiteral("--connect=127.0.0.1:9"), QStringLiteral("--connect"), QStringLiteral("127.0.0.1:70000")} << QByteArray()
        << QStringLiteral("地址不能以|请写成");
}

void TestSessionLaunch::refusesWithNoWindowLeft()
{
    if (!whyNot_.isEmpty())
        QSKIP(qPrintable(whyNot_));
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, content);
    QFETCH(QString, told);
    const QString file = folder_.filePath(QStringLiteral("refused.rdp"));
    QFile::remove(file);
    if (arguments.contains(QStringLiteral("FILE"))) {
        WriteFile(file, content);
        arguments.replace(arguments.indexOf(QStringLiteral("FILE")), file);
    }
    QProcess program;
    Start(program, arguments);
    // Started from a desktop, with no terminal: the reason is shown in a box, and
    // written to standard error for a terminal.
    RdpTest::WindowProbe probe(clientDisplay_.Name());
    QVERIFY2(WaitForBox(probe, program), "no box told why");
    QCOMPARE(probe.MappedTitles().size(), 1);
    probe.Close(probe.Find(QStringLiteral("brennic")));
    QVERIFY2(program.waitForFinished(EndMs), "the program stayed after its box");
    const QString error = QString::fromUtf8(program.readAllStandardError());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    QVERIFY2(error.contains(QStringLiteral("无效的服务器地址")) || error.contains(QStringLiteral("无法打开连接文件")), qPrintable(error));
    for (const QString &part : told.split(u'|'))
        QVERIFY2(error.contains(part), qPrintable(error));
    QVERIFY(probe.MappedTitles().isEmpty());
}

QTEST_GUILESS_MAIN(TestSessionLaunch)
#include "tst_sessionlaunch.moc"
