// Session windows without an RDP server: the reason table, the events, the
// time-out, failed connections, window sizes and shutdown.

#include "DisconnectReasons.h"
#include "ServerAddress.h"
#include "MessageBoxWatcher.h"
#include "MsgBox.h"
#include "SessionTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QScreen>
#include <QTemporaryDir>

class TestSessionOffline : public QObject {
    Q_OBJECT
public:
    bool isolated = false;

private:
    QTemporaryDir store_;
    std::unique_ptr<MessageBoxWatcher> boxes_;
    std::unique_ptr<FakeOwner> owner_;
    std::unique_ptr<SilentServer> silent_;

    TfrmClient *OpenSilent(int width = 1024, int height = 768)
    {
        return owner_->Open(Settings(QStringLiteral("127.0.0.1"), silent_->Port(), width, height));
    }

private slots:
    void initTestCase()
    {
        InstallErrorMessageBoxes();
        TMsRdpClient5::SetCertificateStoreFolder(store_.path());
    }

    void init()
    {
        boxes_ = std::make_unique<MessageBoxWatcher>();
        owner_ = std::make_unique<FakeOwner>();
        silent_ = std::make_unique<SilentServer>();
    }

    void cleanup()
    {
        owner_.reset();
        QVERIFY(WaitForRdpWorkers(1000));
        silent_.reset();
        boxes_.reset();
    }

    void reasonTable_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        const QString other = QStringLiteral("已断开");
        QTest::newRow("0") << 0 << "NoInfo.";
        QTest::newRow("1") << 1 << "";
        QTest::newRow("2") << 2 << "";
        QTest::newRow("3") << 3 << "ReasonServerIdleTimeout.";
        QTest::newRow("4") << 4 << "ReasonServerLogonTimeout.";
        QTest::newRow("5") << 5 << "ReasonReplacedByOtherConnection.";
        QTest::newRow("6") << 6 << "ReasonOutOfMemory.";
        QTest::newRow("7") << 7 << "ReasonServerDeniedConnection.";
        QTest::newRow("256") << 256 << "ReasonLicenseInternal.";
        QTest::newRow("257") << 257 << "ReasonLicenseNoLicenseServer.";
        QTest::newRow("258") << 258 << "ReasonLicenseNoLicense.";
        QTest::newRow("259") << 259 << "ReasonLicenseErrClientMsg.";
        QTest::newRow("260") << 260 << "ReasonLicenseHwidDoesntMatchLicense.";
        QTest::newRow("261") << 261 << "ReasonLicenseErrClientLicense.";
        QTest::newRow("262") << 262 << "ReasonLicenseCantFinishProtocol.";
        QTest::newRow("263") << 263 << "ReasonLicenseClientEndedProtocol.";
        QTest::newRow("264") << 264 << "ReasonLicenseErrClientEncryption.";
        QTest::newRow("265") << 265 << "ReasonLicenseCantUpgradeLicense.";
        QTest::newRow("266") << 266 << "ReasonLicenseNoRemoteConnections.";
        QTest::newRow("4096") << 4096 << "ReasonProtocolRangeStart.";
        QTest::newRow("32767") << 32767 << "ReasonProtocolRangeEnd.";
        for (int code : {8, 255, 267, 4095, 4097, 32766, 32768, -1, -2147483647 - 1, 2147483647})
            QTest::newRow(qPrintable(QString::number(code))) << code << other;
    }

    void reasonTable()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        QCOMPARE(DisconnectReasonText(code), text);
    }

    // The disconnection event on a visible window: its text (when it has one) in
    // a box with the server beneath, then the window closes and goes away.
    void disconnectEventShowsReasonAndCloses_data() { reasonTable_data(); }
    void disconnectEventShowsReasonAndCloses()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        QPointer<TfrmClient> form = OpenSilent();
        QVERIFY(form->isVisible());
        emit form->msrdpclnt1->OnDisconnected(code);
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 2000));
        if (text.isEmpty()) {
            QCOMPARE(boxes_->texts.size(), 0);
        } else {
            QCOMPARE(boxes_->texts.size(), 1);
            QCOMPARE(boxes_->texts[0].section(QLatin1Char('\n'), 0, 0), text);
            QVERIFY(boxes_->texts[0].contains(QStringLiteral("服务器: 127.0.0.1:%1").arg(silent_->Port())));
        }
        QCOMPARE(owner_->open.size(), 0);
        QCOMPARE(owner_->removeCalls, 1);
    }

    void secondDisconnectEventDoesNothing()
    {
        QPointer<TfrmClient> form = OpenSilent();
        form->msrdpclnt1Disconnected(3);
        form->msrdpclnt1Disconnected(7);
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 2000));
        QCOMPARE(boxes_->texts.size(), 1);
        QVERIFY(boxes_->texts[0].startsWith(QStringLiteral("ReasonServerIdleTimeout.")));
        QCOMPARE(owner_->removeCalls, 1);
    }

    // A hidden window that has not ended: the event ends it silently.
    void disconnectEventOnHiddenWindowIsSilent()
    {
        auto *form = new TfrmClient(owner_.get(), Settings(QStringLiteral("127.0.0.1"), silent_->Port()));
        QVERIFY(form->tmrTimeOut->isActive());
        form->msrdpclnt1Disconnected(3);
        QVERIFY(form->LDisconnected);
        QVERIFY(!form->tmrTimeOut->isActive());
        QTest::qWait(50);
        QCOMPARE(boxes_->texts.size(), 0);
        QCOMPARE(owner_->removeCalls, 0);
        QVERIFY(!form->IsFinished());
    }

    void failedConnectionTellsServerAndCause_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("cause");
        QTest::newRow("connection refused") << "127.0.0.1" << RdpTest::FreePort() << "连接被拒绝";
        if (isolated)
            QTest::newRow("unknown host") << "no-such-server.invalid" << 3389 << "找不到服务器名称";
    }

    void failedConnectionTellsServerAndCause()
    {
        QFETCH(QString, server);
        QFETCH(int, port);
        QFETCH(QString, cause);
        QElapsedTimer timer;
        timer.start();
        QPointer<TfrmClient> form = owner_->Open(Settings(server, port));
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 8000));
        QVERIFY(timer.elapsed() < 8000);
        QCOMPARE(boxes_->texts.size(), 1);
        const QStringList lines = boxes_->texts[0].split(QLatin1Char('\n'));
        QCOMPARE(lines[0], QStringLiteral("NoInfo."));
        QVERIFY2(lines.contains(QStringLiteral("服务器: ") + (port == 3389 ? server : server + QStringLiteral(":%1").arg(port))),
                 qPrintable(boxes_->texts[0]));
        QVERIFY2(boxes_->texts[0].contains(QStringLiteral("原因: ") + cause), qPrintable(boxes_->texts[0]));
        QCOMPARE(owner_->open.size(), 0);
    }

    // A server that accepts and never answers: after 10 s "连接超时", the window
    // goes, and no thread is left behind.
    void silentServerTimesOut()
    {
        const int threadsBefore = ThreadCount();
        QElapsedTimer timer;
        timer.start();
        QPointer<TfrmClient> form = OpenSilent();
        QVERIFY(WaitUntil([&] { return RdpWorkerCount() == 1; }, 1000));
        QVERIFY(WaitUntil([&] { return !boxes_->texts.isEmpty(); }, 12000));
        QVERIFY(timer.elapsed() >= TfrmClient::TimeOutMs - 100);
        QCOMPARE(boxes_->texts[0].section(QLatin1Char('\n'), 0, 0), QStringLiteral("连接超时"));
        QVERIFY(boxes_->texts[0].contains(QStringLiteral("127.0.0.1:%1").arg(silent_->Port())));
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 1000));
        QVERIFY(WaitForRdpWorkers(1000));
        QVERIFY(WaitUntil([&] { return ThreadCount() <= threadsBefore; }, 1000));
        QTest::qWait(200);
        QCOMPARE(boxes_->texts.size(), 1);
    }

    // A window closed while it connects is finished at once: no message ever,
    // the attempt is cut, its worker ends and the window is freed.
    void closeWhileConnectingFinishesForGood()
    {
        QPointer<TfrmClient> form = OpenSilent();
        QVERIFY(WaitUntil([&] { return silent_->handles.size() == 1; }, 3000));
        QElapsedTimer timer;
        timer.start();
        form->close();
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 1000));
        QVERIFY(WaitForRdpWorkers(1000));
        QVERIFY(timer.elapsed() < 1000);
        QCOMPARE(owner_->removeCalls, 1);
        QCOMPARE(owner_->open.size(), 0);
        QCOMPARE(boxes_->texts.size(), 0);
    }

    // A value the control refuses: its message first, the window opens all the
    // same, and without a connection it closes at 10 s with "连接超时".
    void setUpErrorShownThenTimeOut()
    {
        TClientSettings s = Settings(QStringLiteral("127.0.0.1"), 0);
        QElapsedTimer timer;
        timer.start();
        QPointer<TfrmClient> form = owner_->Open(s);
        QVERIFY(WaitUntil([&] { return !boxes_->texts.isEmpty(); }, 2000));
        QVERIFY(boxes_->texts[0].startsWith(QStringLiteral("无效的端口: 0")));
        QVERIFY(form && form->isVisible());
        QCOMPARE(owner_->open.size(), 1);
        QCOMPARE(RdpWorkerCount(), 0);
        QVERIFY(WaitUntil([&] { return boxes_->texts.size() == 2; }, 12000));
        QVERIFY2(timer.elapsed() >= TfrmClient::TimeOutMs - 100, qPrintable(boxes_->texts.join("|")));
        QCOMPARE(boxes_->texts[1].section(QLatin1Char('\n'), 0, 0), QStringLiteral("连接超时"));
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 1000));
        QCOMPARE(owner_->open.size(), 0);
    }

    // Server fields the library would take for a file descriptor or a UNIX
    // socket, and ports outside 1-65535, are refused with a message.
    void serverAndPortRules_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("refusal"); // the message's start, empty when accepted
        const QString badServer = QStringLiteral("无效的服务器地址: ");
        QTest::newRow("pipe") << "|" << 3 << badServer;
        QTest::newRow("pipe and number") << "|7" << 3389 << badServer;
        QTest::newRow("socket path") << "/tmp/.X11-unix/X0" << 3389 << badServer;
        QTest::newRow("blank then slash") << "  /run/sock" << 3389 << badServer;
        QTest::newRow("port 0") << "127.0.0.1" << 0 << QStringLiteral("无效的端口: 0\n");
        QTest::newRow("port -1") << "127.0.0.1" << -1 << QStringLiteral("无效的端口: -1\n");
        QTest::newRow("port 65536") << "127.0.0.1" << 65536 << QStringLiteral("无效的端口: 65536\n");
        QTest::newRow("port 1") << "127.0.0.1" << 1 << QString();
        QTest::newRow("port 65535") << "127.0.0.1" << 65535 << QString();
        QTest::newRow("name") << "server-1.example" << 3389 << QString();
        QTest::newRow("IPv6") << "::1" << 3389 << QString();
        QTest::newRow("bar inside") << "a|b" << 3389 << QString();
    }

    void serverAndPortRules()
    {
        QFETCH(QString, server);
        QFETCH(int, port);
        QFETCH(QString, refusal);
        const QString problem = ServerFieldProblem(server) + PortProblem(port);
        if (refusal.isEmpty())
            QCOMPARE(problem, QString());
        else
            QVERIFY2(problem.startsWith(refusal), qPrintable(problem));
    }

    // The session window refuses such a server before anything reaches the
    // library: no worker starts and the program does not block.
    void refusedServerNeverReachesTheLibrary_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("port");
        QTest::newRow("pipe, descriptor 3") << "|" << 3;
        QTest::newRow("socket path") << "/tmp/.X11-unix/X0" << 3389;
    }

    void refusedServerNeverReachesTheLibrary()
    {
        QFETCH(QString, server);
        QFETCH(int, port);
        QPointer<TfrmClient> form = owner_->Open(Settings(server, port));
        QVERIFY(WaitUntil([&] { return !boxes_->texts.isEmpty(); }, 2000));
        QVERIFY2(boxes_->texts[0].startsWith(QStringLiteral("无效的服务器地址: ") + server + QLatin1Char('\n')),
                 qPrintable(boxes_->texts[0]));
        QCOMPARE(RdpWorkerCount(), 0);
        QVERIFY(form && form->isVisible());
        QCOMPARE(form->msrdpclnt1->Server(), QString()); // never handed to the control
        form->close();
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 1000));
    }

    // The set-up error box is still open when the time-out comes: the time-out
    // waits for it, and the window is neither closed nor destroyed inside its
    // own constructor.
    void setUpErrorBoxOpenAtTimeOut()
    {
        boxes_->plainDelayMs = 400;
        boxes_->onShown = [](QMessageBox *box) {
            auto *form = qobject_cast<TfrmClient *>(box->parentWidget());
            if (form && box->text().startsWith(QStringLiteral("无效的端口")))
                form->tmrTimeOut->start(50); // the 10 s mark, brought forward, comes under the box
        };
        QPointer<TfrmClient> form = owner_->Open(Settings(QStringLiteral("127.0.0.1"), 0));
        QVERIFY(form);
        QCOMPARE(boxes_->texts.size(), 1);
        QCOMPARE(owner_->open.size(), 1);
        QVERIFY(WaitUntil([&] { return boxes_->texts.size() == 2; }, 3000));
        QCOMPARE(boxes_->texts[1].section(QLatin1Char('\n'), 0, 0), QStringLiteral("连接超时"));
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 1000));
        QCOMPARE(owner_->open.size(), 0);
    }

    // A disconnection while the fatal-error box is open: its own box, then the
    // window closes, but it is destroyed only once the fatal-error box is closed.
    void windowNotDestroyedUnderItsOwnBox()
    {
        QPointer<TfrmClient> form = OpenSilent();
        boxes_->plainDelayMs = 200;
        boxes_->onShown = [&](QMessageBox *box) {
            if (form && box->text().startsWith(QStringLiteral("未知错误")))
                QTimer::singleShot(0, form->msrdpclnt1, [control = form->msrdpclnt1] { emit control->OnDisconnected(0); });
        };
        emit form->msrdpclnt1->OnFatalError(3);
        QStringList firstLines;
        for (const QString &text : std::as_const(boxes_->texts))
            firstLines << text.section(QLatin1Char('\n'), 0, 0);
        firstLines.sort();
        QCOMPARE(firstLines, QStringList({QStringLiteral("NoInfo."), QStringLiteral("未知错误 请检查设置")}));
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 1000));
        QCOMPARE(owner_->open.size(), 0);
        QVERIFY(WaitForRdpWorkers(1000));
    }

    // No box outlives its window: when the owner takes the window away while one
    // of its boxes is open, the box goes with it.
    void boxGoesWithItsWindow()
    {
        QPointer<TfrmClient> form = OpenSilent();
        QPointer<QMessageBox> shown;
        boxes_->plainDelayMs = 5000;
        boxes_->onShown = [&](QMessageBox *box) {
            shown = box;
            QTimer::singleShot(0, this, [this] { owner_.reset(); });
        };
        QElapsedTimer timer;
        timer.start();
        emit form->msrdpclnt1->OnWarning(1);
        QVERIFY(timer.elapsed() < 4000);
        QVERIFY(form.isNull());
        QVERIFY(shown.isNull());
        QVERIFY(WaitForRdpWorkers(1000));
        owner_ = std::make_unique<FakeOwner>();
    }

    // A warning is shown; a logon error and the user name the server tells after a
    // successful logon are not (neither is a failure the user can act on).
    void messagesOfTheOtherEvents()
    {
        QPointer<TfrmClient> form = OpenSilent();
        emit form->msrdpclnt1->OnUserNameAcquired(QStringLiteral("someone"));
        emit form->msrdpclnt1->OnLogonError(-2);
        emit form->msrdpclnt1->OnWarning(1);
        QVERIFY(WaitUntil([&] { return boxes_->texts.size() == 1; }, 2000));
        QTest::qWait(50);
        QCOMPARE(boxes_->texts.size(), 1);
        QCOMPARE(boxes_->texts[0].section(QLatin1Char('\n'), 0, 0), QStringLiteral("失败,请检查设置"));
        QVERIFY(form && form->isVisible());
        emit form->msrdpclnt1->OnFatalError(3);
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 2000));
        QCOMPARE(boxes_->texts.size(), 2);
        QCOMPARE(boxes_->texts[1].section(QLatin1Char('\n'), 0, 0), QStringLiteral("未知错误 请检查设置"));
        QCOMPARE(owner_->open.size(), 0);
    }

    void windowedSettingsSizeTheWindow()
    {
        TfrmClient *form = OpenSilent(1024, 768);
        QCOMPARE(form->size(), QSize(1024, 768));
        QCOMPARE(form->msrdpclnt1->size(), QSize(1024, 768));
        QCOMPARE(form->msrdpclnt1->DesktopWidth(), 1024);
        QCOMPARE(form->msrdpclnt1->DesktopHeight(), 768);
        QVERIFY(!form->msrdpclnt1->FullScreen());
        QCOMPARE(form->windowTitle(), QStringLiteral("127.0.0.1 - Remote Desktop"));
        QCOMPARE(QSize(form->FWidth_Old, form->FHeight_Old), TfrmClient::DesignClientSize());
        QVERIFY(form->isWindow());
        QCOMPARE(form->parentWidget(), owner_.get());
        QCOMPARE(form->msrdpclnt1->cursor().shape(), Qt::WaitCursor);
    }

    void fullScreenSettingsAndLeavingIt()
    {
        TClientSettings s = Settings(QStringLiteral("127.0.0.1"), silent_->Port(), 1280, 1024);
        s.FullScreen = true;
        TfrmClient *form = owner_->Open(s);
        const QSize screen = QGuiApplication::primaryScreen()->size();
        QCOMPARE(form->size(), screen);
        QCOMPARE(form->msrdpclnt1->DesktopWidth(), screen.width());
        QCOMPARE(form->msrdpclnt1->DesktopHeight(), screen.height());
        QVERIFY(form->msrdpclnt1->FullScreen());
        emit form->msrdpclnt1->OnLeaveFullScreenMode();
        // Placed once the frame is known; this platform draws none.
        QVERIFY(WaitUntil([&] { return form->size() == TfrmClient::DesignClientSize(); }, 4000));
        QCOMPARE(form->frameGeometry().topLeft(), QPoint(10, 10));
    }

    // The owner going with sessions open ends every worker within a second and
    // shows nothing.
    void ownerDestroyedEndsEveryWorker()
    {
        for (int i = 0; i < 3; ++i)
            OpenSilent();
        QVERIFY(WaitUntil([&] { return silent_->handles.size() == 3; }, 3000));
        QCOMPARE(RdpWorkerCount(), 3);
        QElapsedTimer timer;
        timer.start();
        owner_.reset();
        QVERIFY(WaitForRdpWorkers(1000));
        QVERIFY(timer.elapsed() < 1000);
        QTest::qWait(50);
        QCOMPARE(boxes_->texts.size(), 0);
    }
};

int main(int argc, char **argv)
{
    const bool isolated = RdpTest::EnterPrivateNetwork();
    QApplication app(argc, argv);
    TestSessionOffline test;
    test.isolated = isolated;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sessionoffline.moc"
