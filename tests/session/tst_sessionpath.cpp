// The one way a session reaches its server: through the program's relay, for
// an address that is one. Proxy variables in the environment change nothing,
// a request with more in it than host and port is refused, and the folders of
// relays whose process was killed are cleared away at the next start.
#include "MessageBoxAnswers.h"
#include "MsgBox.h"
#include "RdpLibrary.h"
#include "RdpRelay.h"
#include "SessionTestSupport.h"

#include <QApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <utime.h>

#include <cstdlib>

namespace {

// What the relay answers to one request on its socket; empty when it closes
// without a word or says nothing within the time.
QByteArray Ask(const QByteArray &socketPath, const QByteArray &request)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
    QByteArray reply;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) == request.size()) {
        pollfd p{fd, POLLIN, 0};
        char buffer[256];
        while (!reply.contains("\r\n\r\n") && ::poll(&p, 1, 2000) > 0) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            reply.append(buffer, n);
        }
    }
    ::close(fd);
    return reply;
}

// A process id that no process has now: a child's, once it is gone.
pid_t GonePid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

bool MakeFolder(const QString &path, int ageSeconds = 0)
{
    if (!QDir().mkpath(path))
        return false;
    QFile socket(path + QStringLiteral("/s"));
    if (!socket.open(QIODevice::WriteOnly))
        return false;
    socket.close();
    if (ageSeconds == 0)
        return true;
    const time_t then = ::time(nullptr) - ageSeconds;
    const utimbuf times{then, then};
    return ::utime(QFile::encodeName(path).constData(), &times) == 0;
}

} // namespace

class TestSessionPath : public QObject {
    Q_OBJECT

    QTemporaryDir store_;
    std::unique_ptr<MessageBoxAnswers> boxes_;
    std::unique_ptr<FakeOwner> owner_;
    std::unique_ptr<SilentServer> silent_;

    RdpConnectParams Params(const QString &host, int port) const
    {
        RdpConnectParams params;
        params.Host = host;
        params.Port = port;
        params.CertificateStore = store_.path();
        return params;
    }

private slots:
    void initTestCase()
    {
        InstallErrorMessageBoxes();
        TMsRdpClient5::SetCertificateStoreFolder(store_.path());
    }

    void init()
    {
        boxes_ = std::make_unique<MessageBoxAnswers>();
        owner_ = std::make_unique<FakeOwner>();
        silent_ = std::make_unique<SilentServer>();
    }

    void cleanup()
    {
        owner_.reset();
        QVERIFY(WaitForRdpWorkers(CutMs));
        silent_.reset();
        boxes_.reset();
    }

    // The environment says to connect to every server directly (main sets
    // NO_PROXY=* and no_proxy=* before anything starts) and names a proxy of
    // its own: the session still goes through the relay, to the server's port
    // alone, and so a silent server's attempt is still cut by a close.
    void proxyVariablesChangeNothing()
    {
        SilentServer proxy;
        qputenv("https_proxy", QStringLiteral("http://127.0.0.1:%1").arg(proxy.Port()).toLatin1());
        qputenv("HTTPS_PROXY", QStringLiteral("http://127.0.0.1:%1").arg(proxy.Port()).toLatin1());
        auto restore = qScopeGuard([] {
            qunsetenv("https_proxy");
            qunsetenv("HTTPS_PROXY");
        });
        QPointer<TfrmClient> form = owner_->Open(Settings(QStringLiteral("127.0.0.1"), silent_->Port()));
        QVERIFY(WaitUntil([&] { return silent_->handles.size() == 1; }, 3000));
        QTest::qWait(300);
        QCOMPARE(proxy.handles.size(), 0);
        QVERIFY(!std::getenv("NO_PROXY") && !std::getenv("no_proxy")); // the library never sees them
        QElapsedTimer timer;
        timer.start();
        form->close();
        QVERIFY(WaitUntil([&] { return form.isNull(); }, CloseMs));
        QVERIFY(WaitForRdpWorkers(CutMs));
        QVERIFY(timer.elapsed() < CutMs);
        QCOMPARE(boxes_->texts, QStringList());
    }

    // Set again once the library is running, the variable is refused: the
    // attempt ends with a cause that names it and reaches nothing.
    void bypassSetLaterIsRefused_data()
    {
        QTest::addColumn<QByteArray>("variable");
        for (const char *name : RdpBypassVariables)
            QTest::newRow(name) << QByteArray(name);
    }

    void bypassSetLaterIsRefused()
    {
        QFETCH(QByteArray, variable);
        // The library is prepared by the first session of this process.
        RdpSession first;
        first.Start(Params(QStringLiteral("127.0.0.1"), RdpTest::FreePort()));
        first.Cancel();
        qputenv(variable.constData(), "*");
        auto restore = qScopeGuard([&] { qunsetenv(variable.constData()); });
        RdpSession session;
        QSignalSpy fatal(&session, &RdpSession::FatalError);
        QSignalSpy connected(&session, &RdpSession::SessionConnected);
        session.Start(Params(QStringLiteral("127.0.0.1"), silent_->Port()));
        QVERIFY(fatal.wait(CutMs));
        QVERIFY2(fatal[0][1].toString().contains(QString::fromLatin1(variable)), qPrintable(fatal[0][1].toString()));
        QTest::qWait(300);
        QCOMPARE(silent_->handles.size(), 0);
        QCOMPARE(connected.size(), 0);
    }

    // The backend refuses an address that is none, whoever hands it one.
    void backendRefusesWhatIsNoAddress_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("blank before another port") << "127.0.0.1:%1 x";
        QTest::newRow("tab") << "127.0.0.1\t";
        QTest::newRow("descriptor") << "|3";
        QTest::newRow("socket path") << "/tmp/socket";
    }

    void backendRefusesWhatIsNoAddress()
    {
        QFETCH(QString, host);
        if (host.contains(QStringLiteral("%1")))
            host = host.arg(silent_->Port());
        RdpSession session;
        QSignalSpy fatal(&session, &RdpSession::FatalError);
        session.Start(Params(host, 1));
        QVERIFY(fatal.wait(CutMs));
        QVERIFY2(fatal[0][1].toString().startsWith(QStringLiteral("无效的服务器地址")), qPrintable(fatal[0][1].toString()));
        QTest::qWait(300);
        QCOMPARE(silent_->handles.size(), 0);
    }

    // The relay takes "CONNECT host:port HTTP/1.x" and nothing else: a request
    // with more in its target reaches no server, no other port either.
    void relayTakesOnlyPlainRequests_data()
    {
        QTest::addColumn<QByteArray>("request"); // %1: the listener's port
        QTest::addColumn<bool>("served");
        QTest::newRow("plain") << QByteArray("CONNECT 127.0.0.1:%1 HTTP/1.1\r\nHost: x\r\n\r\n") << true;
        QTest::newRow("blank in the host") << QByteArray("CONNECT 127.0.0.1:%1 x:1 HTTP/1.1\r\n\r\n") << false;
        QTest::newRow("tab in the host") << QByteArray("CONNECT 127.0.0.1:%1\t:1 HTTP/1.1\r\n\r\n") << false;
        QTest::newRow("no version") << QByteArray("CONNECT 127.0.0.1:%1\r\n\r\n") << false;
        QTest::newRow("signed port") << QByteArray("CONNECT 127.0.0.1:+%1 HTTP/1.1\r\n\r\n") << false;
        QTest::newRow("descriptor") << QByteArray("CONNECT |3:%1 HTTP/1.1\r\n\r\n") << false;
        QTest::newRow("other method") << QByteArray("GET 127.0.0.1:%1 HTTP/1.1\r\n\r\n") << false;
    }

    void relayTakesOnlyPlainRequests()
    {
        QFETCH(QByteArray, request);
        QFETCH(bool, served);
        RdpRelay relay;
        QVERIFY(relay.Start());
        const QByteArray reply = Ask(relay.SocketPath(), request.replace("%1", QByteArray::number(silent_->Port())));
        QCOMPARE(reply.startsWith("HTTP/1.1 200"), served);
        if (served)
            QVERIFY(WaitUntil([&] { return silent_->handles.size() == 1; }, 3000));
        else
            QTest::qWait(300);
        QCOMPARE(silent_->handles.size(), served ? 1 : 0);
        QCOMPARE(relay.Requests(), served ? 1 : 0);
        relay.Stop();
    }

    // A relay's folder carries its process, and goes with it.
    void relayFolderNamesItsProcess()
    {
        QString folder;
        {
            RdpRelay relay;
            QVERIFY(relay.Start());
            folder = QFileInfo(QFile::decodeName(relay.SocketPath())).path();
            QVERIFY2(QFileInfo(folder).fileName().startsWith(QStringLiteral("brennic-rdp-%1-").arg(::getpid())),
                     qPrintable(folder));
            QVERIFY(QFileInfo::exists(folder));
        }
        QVERIFY(!QFileInfo::exists(folder));
    }

    // Folders left by relays whose process is gone are removed; those of a
    // running process, new ones that name none, and anything else are left.
    void staleRelayFoldersRemoved()
    {
        QTemporaryDir parent;
        QVERIFY(parent.isValid());
        const auto path = [&](const QString &name) { return parent.filePath(name); };
        const QString gone = path(QStringLiteral("brennic-rdp-%1-aB3dE6").arg(GonePid()));
        const QString running = path(QStringLiteral("brennic-rdp-%1-xY9zW1").arg(::getpid()));
        const QString oldUnnamed = path(QStringLiteral("brennic-rdp-Qw12Er"));
        const QString newUnnamed = path(QStringLiteral("brennic-rdp-Ty34Ui"));
        const QString other = path(QStringLiteral("brennic-xrdp-Op56As"));
        QVERIFY(MakeFolder(gone));
        QVERIFY(MakeFolder(running));
        QVERIFY(MakeFolder(oldUnnamed, 3600));
        QVERIFY(MakeFolder(newUnnamed));
        QVERIFY(MakeFolder(other, 3600));
        RdpRelay::RemoveStaleFolders(parent.path());
        QVERIFY(!QFileInfo::exists(gone));
        QVERIFY(!QFileInfo::exists(oldUnnamed));
        QVERIFY(QFileInfo::exists(running + QStringLiteral("/s")));
        QVERIFY(QFileInfo::exists(newUnnamed + QStringLiteral("/s")));
        QVERIFY(QFileInfo::exists(other + QStringLiteral("/s")));
    }
};

int main(int argc, char **argv)
{
    // Before any thread starts: what a user's environment may hold.
    ::setenv("NO_PROXY", "*", 1);
    ::setenv("no_proxy", "*", 1);
    QApplication app(argc, argv);
    TestSessionPath test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sessionpath.moc"
