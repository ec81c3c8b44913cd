// The RDP backend module is loaded when the first session starts, not before;
// where it cannot be loaded the session ends with the reason, as any failed
// connection does. This program links the session library only, like the
// program itself: libfreerdp comes with the module or not at all.
#include "MessageBoxAnswers.h"
#include "MsgBox.h"
#include "RdpBackendLoader.h"
#include "SessionTestSupport.h"

#include <QApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <dlfcn.h>

namespace {

// Whether the process has the client library mapped, without loading it.
bool ClientLibraryLoaded()
{
    void *library = dlopen("libfreerdp2.so.2", RTLD_NOW | RTLD_NOLOAD);
    if (library)
        dlclose(library);
    return library != nullptr;
}

} // namespace

class TestSessionBackend : public QObject {
    Q_OBJECT

    QTemporaryDir store_;

    RdpConnectParams Params() const
    {
        RdpConnectParams params;
        params.Host = QStringLiteral("127.0.0.1");
        params.Port = RdpTest::FreePort();
        params.CertificateStore = store_.path();
        return params;
    }

private slots:
    void initTestCase()
    {
        InstallErrorMessageBoxes();
        TMsRdpClient5::SetCertificateStoreFolder(store_.path());
        QVERIFY(!ClientLibraryLoaded());
    }

    // Each case looks for the module where the program does unless it says otherwise.
    void cleanup() { SetRdpBackendFolders({}); }

    // A module that is missing or broken ends the session at once with a
    // FatalError that names the module and gives the loader's words; nothing is
    // loaded, no worker runs, and a later session tries again.
    void moduleThatCannotLoad_data()
    {
        QTest::addColumn<QByteArray>("content"); // of the module's file; empty: no file
        QTest::addColumn<QString>("loaderSays");
        QTest::newRow("missing") << QByteArray() << "cannot open shared object file";
        QTest::newRow("not a library") << QByteArray(256, 'x') << "invalid ELF header";
    }

    void moduleThatCannotLoad()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, loaderSays);
        QTemporaryDir folder;
        if (!content.isEmpty()) {
            QFile module(folder.filePath(RdpBackendFileName()));
            QVERIFY(module.open(QIODevice::WriteOnly));
            module.write(content);
        }
        SetRdpBackendFolders({folder.path()});
        for (int attempt = 0; attempt < 2; ++attempt) {
            RdpSession session;
            QSignalSpy fatal(&session, &RdpSession::FatalError);
            QSignalSpy ended(&session, &RdpSession::SessionEnded);
            session.Start(Params());
            QVERIFY(fatal.wait(5000));
            QCOMPARE(fatal.size(), 1);
            const QString cause = fatal[0][1].toString();
            QVERIFY2(cause.contains(RdpBackendFileName()), qPrintable(cause));
            QVERIFY2(cause.contains(loaderSays), qPrintable(cause));
            QCOMPARE(ended.size(), 0);
            QCOMPARE(session.Connected(), 0);
            bool noPicture = false;
            session.ReadFrame([&](const QImage &image) { noPicture = image.isNull(); });
            QVERIFY(noPicture);
        }
        QCOMPARE(LoadedRdpBackend(), nullptr);
        QCOMPARE(RdpWorkerCount(), 0);
        QVERIFY(WaitForRdpWorkers(0));
        QVERIFY(!ClientLibraryLoaded());
    }

    // A session given up at once says nothing, the failure to load included.
    void cancelledSessionTellsNoLoadFailure()
    {
        QTemporaryDir folder;
        SetRdpBackendFolders({folder.path()});
        RdpSession session;
        QSignalSpy fatal(&session, &RdpSession::FatalError);
        session.Start(Params());
        session.Cancel();
        QTest::qWait(200);
        QCOMPARE(fatal.size(), 0);
    }

    // In a session window the failure shows as every failed connection does:
    // a message box with the server and the cause, and the window closes.
    void windowShowsTheLoadFailure()
    {
        QTemporaryDir folder;
        SetRdpBackendFolders({folder.path()});
        MessageBoxAnswers boxes;
        FakeOwner owner;
        QPointer<TfrmClient> form = owner.Open(Settings(QStringLiteral("127.0.0.1"), RdpTest::FreePort()));
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 8000));
        QCOMPARE(boxes.texts.size(), 1);
        const QString text = boxes.texts[0];
        QVERIFY2(text.contains(QStringLiteral("服务器: 127.0.0.1")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("原因: 无法加载远程桌面组件 ") + RdpBackendFileName()), qPrintable(text));
        QVERIFY2(text.contains(QLatin1String("cannot open shared object file")), qPrintable(text));
    }

    // With the module in its place the first session loads it, and with it the
    // client library; the session then runs as ever.
    void firstSessionLoadsTheModule()
    {
        QCOMPARE(LoadedRdpBackend(), nullptr);
        QVERIFY(!ClientLibraryLoaded());
        RdpSession session;
        QSignalSpy ended(&session, &RdpSession::SessionEnded);
        QSignalSpy fatal(&session, &RdpSession::FatalError);
        session.Start(Params());
        QVERIFY(LoadedRdpBackend() != nullptr);
        QVERIFY(ClientLibraryLoaded());
        QVERIFY(ended.wait(5000));
        QCOMPARE(fatal.size(), 0);
        const auto info = ended[0][0].value<RdpDisconnectInfo>();
        QVERIFY2(info.Cause.contains(QStringLiteral("连接被拒绝")), qPrintable(info.Cause));
        QVERIFY(WaitForRdpWorkers(CutMs));
        QCOMPARE(RdpWorkerCount(), 0);
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestSessionBackend test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sessionbackend.moc"
