// Session windows without an RDP server: the reason table, the events, the
// time-out, failed connections, window sizes and shutdown.

#include "DisconnectReasons.h"
#include "ServerAddress.h"
#include "MessageBoxAnswers.h"
#include "DialogAnswers.h"
#include "MsgBox.h"
#include "AppError.h"
#include "RdpClipboard.h"
#include "RdpEndCause.h"
#include "RdpKeyboard.h"
#include "SessionTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <dlfcn.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

// Library error codes, as the library numbers them.
constexpr uint32_t TransportFailed = 0x2000D;
constexpr uint32_t TlsFailed = 0x20008;
constexpr uint32_t AuthenticationFailed = 0x20009;
constexpr uint32_t MissingCredentials = 0x2001B;

// Points the name look-ups of this process at 127.0.0.1, where a test may
// listen and never answer. Needs a mount namespace of its own (the process is
// root in its network namespace); false when it cannot have one.
bool UseLoopbackNameServer(const QString &folder)
{
    const QString conf = folder + QStringLiteral("/resolv.conf");
    QFile file(conf);
    if (!file.open(QIODevice::WriteOnly) || file.write("nameserver 127.0.0.1\noptions timeout:5 attempts:2\n") <= 0)
        return false;
    file.close();
    return ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
        && ::mount(QFile::encodeName(conf).constData(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
}

bool g_loopbackNameServer = false;

} // namespace

class TestSessionOffline : public QObject {
    Q_OBJECT
public:
    bool isolated = false;

private:
    QTemporaryDir store_;
    std::unique_ptr<MessageBoxAnswers> boxes_;
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

    // Every end of a session has a cause in words; the mapping from what the
    // library and the connection tell, case by case.
    void endCauseTable_data()
    {
        QTest::addColumn<uint32_t>("errorInfo");
        QTest::addColumn<uint32_t>("clientError");
        QTest::addColumn<bool>("wasConnected");
        QTest::addColumn<bool>("certificateRefused");
        QTest::addColumn<int>("connect");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("cause");
        const int none = int(RdpConnectFailure::None);
        QTest::newRow("certificate refused") << 0u << TlsFailed << false << true << none << ""
                                             << ""
                                             << "您拒绝了服务器的证书";
        QTest::newRow("logoff") << 0xCu << 0u << true << false << none << ""
                                << ""
                                << "用户已注销";
        QTest::newRow("logoff with transport error") << 0xCu << TransportFailed << true << false << none << ""
                                                     << ""
                                                     << "用户已注销";
        QTest::newRow("admin disconnect") << 0x1u << 0u << true << false << none << ""
                                          << ""
                                          << "管理员断开了会话";
        QTest::newRow("idle") << 0x3u << 0u << true << false << none << ""
                              << ""
                              << "空闲";
        QTest::newRow("replaced") << 0x5u << 0u << true << false << none << ""
                                  << ""
                                  << "另一个连接接管了此会话";
        QTest::newRow("no licence") << 0x102u << 0u << false << false << none << ""
                                    << ""
                                    << "客户端访问许可证";
        QTest::newRow("licensing") << 0x100u << 0u << false << false << none << ""
                                   << ""
                                   << "许可证";
        QTest::newRow("protocol") << 0x10D3u << 0u << true << false << none << ""
                                  << ""
                                  << "协议错误";
        QTest::newRow("unknown info") << 0x9999u << 0u << true << false << none << ""
                                      << ""
                                      << "服务器报告错误 0x9999";
        QTest::newRow("name") << 0u << TransportFailed << false << false << int(RdpConnectFailure::NameNotFound) << ""
                              << ""
                              << "找不到服务器名称";
        QTest::newRow("refused") << 0u << TransportFailed << false << false << int(RdpConnectFailure::Refused) << ""
                                 << ""
                                 << "连接被拒绝";
        QTest::newRow("unreachable") << 0u << 0x2000Bu << false << false << int(RdpConnectFailure::Unreachable) << ""
                                     << ""
                                     << "无法访问服务器所在的网络";
        QTest::newRow("dropped") << 0u << TransportFailed << true << false << none << ""
                                 << ""
                                 << "连接已中断";
        QTest::newRow("nla refused") << 0u << TransportFailed << false << false << none << "CONNECTION_STATE_NLA"
                                     << ""
                                     << "身份验证失败";
        QTest::newRow("closed in handshake") << 0u << TransportFailed << false << false << none << "CONNECTION_STATE_NEGO"
                                             << ""
                                             << "服务器在建立连接时断开了连接";
        QTest::newRow("wrong password") << 0u << AuthenticationFailed << false << false << none << ""
                                        << ""
                                        << "身份验证失败";
        QTest::newRow("no credentials") << 0u << MissingCredentials << false << false << none << ""
                                        << ""
                                        << "缺少用户名或密码";
        QTest::newRow("tls") << 0u << TlsFailed << false << false << none << ""
                             << ""
                             << "安全连接 (TLS) 失败";
        QTest::newRow("channel failed") << 0u << 0u << true << false << none << ""
                                        << "cliprdr_process_general_capability failed with error 1359"
                                        << "虚拟通道出错";
        QTest::newRow("silent end") << 0u << 0u << true << false << none << ""
                                    << ""
                                    << "客户端无法处理服务器发来的数据";
        QTest::newRow("silent failure") << 0u << 0u << false << false << none << ""
                                        << ""
                                        << "连接失败";
    }

    void endCauseTable()
    {
        RdpEndFacts facts;
        QFETCH(uint32_t, errorInfo);
        QFETCH(uint32_t, clientError);
        QFETCH(bool, wasConnected);
        QFETCH(bool, certificateRefused);
        QFETCH(int, connect);
        QFETCH(QString, state);
        QFETCH(QString, log);
        QFETCH(QString, cause);
        facts.ErrorInfo = errorInfo;
        facts.ClientError = clientError;
        facts.WasConnected = wasConnected;
        facts.CertificateRefused = certificateRefused;
        facts.Connect = RdpConnectFailure(connect);
        facts.State = state;
        facts.LogText = log;
        const QString text = RdpEndCause(facts);
        QVERIFY2(text.contains(cause), qPrintable(text));
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
        QVERIFY(WaitUntil([&] { return RdpWorkerCount() == 1; }, CutMs));
        QVERIFY(WaitUntil([&] { return !boxes_->texts.isEmpty(); }, 12000));
        QVERIFY(timer.elapsed() >= TfrmClient::TimeOutMs - 100);
        QCOMPARE(boxes_->texts[0].section(QLatin1Char('\n'), 0, 0), QStringLiteral("连接超时"));
        QVERIFY(boxes_->texts[0].contains(QStringLiteral("127.0.0.1:%1").arg(silent_->Port())));
        QVERIFY(WaitUntil([&] { return form.isNull(); }, CutMs));
        QVERIFY(WaitForRdpWorkers(CutMs));
        QVERIFY(WaitUntil([&] { return ThreadCount() <= threadsBefore; }, CutMs));
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
        QVERIFY(WaitUntil([&] { return form.isNull(); }, CutMs));
        QVERIFY(WaitForRdpWorkers(CutMs));
        QVERIFY(timer.elapsed() < CutMs);
        QCOMPARE(owner_->removeCalls, 1);
        QCOMPARE(owner_->open.size(), 0);
        QCOMPARE(boxes_->texts.size(), 0);
    }

    // A value that cannot be used: its message, and the window, opened and
    // entered all the same, closes at once. Nothing was tried, so nothing times
    // out: no box follows at the 10 s mark.
    void setUpErrorEndsTheAttempt_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<bool>("pastTimeOut"); // waits until after the 10 s mark
        const QString badServer = QStringLiteral("无效的服务器地址: ");
        QTest::newRow("port 0") << "127.0.0.1" << 0 << QStringLiteral("无效的端口: 0\n") << false;
        QTest::newRow("pipe") << "|x" << 3389 << badServer + QStringLiteral("|x\n") << true;
        QTest::newRow("blank in the address") << "127.0.0.1:%1 x" << 1 << badServer << false;
        QTest::newRow("tab in the address") << "127.0.0.1\t%1" << 1 << badServer << false;
    }

    void setUpErrorEndsTheAttempt()
    {
        QFETCH(QString, server);
        QFETCH(int, port);
        QFETCH(QString, refusal);
        QFETCH(bool, pastTimeOut);
        if (server.contains(QStringLiteral("%1")))
            server = server.arg(silent_->Port());
        QElapsedTimer timer;
        timer.start();
        QPointer<TfrmClient> form = owner_->Open(Settings(server, port));
        QCOMPARE(boxes_->texts.size(), 1);
        QVERIFY2(boxes_->texts[0].startsWith(refusal), qPrintable(boxes_->texts[0]));
        QCOMPARE(owner_->open.size(), 1); // opened and entered, as every window is
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 1000));
        QVERIFY(timer.elapsed() < TfrmClient::TimeOutMs / 2);
        QCOMPARE(owner_->open.size(), 0);
        QCOMPARE(owner_->removeCalls, 1);
        QCOMPARE(RdpWorkerCount(), 0);
        if (pastTimeOut)
            QTest::qWait(int(TfrmClient::TimeOutMs - timer.elapsed() + 1000));
        QCOMPARE(boxes_->texts.size(), 1);
        QCOMPARE(silent_->handles.size(), 0); // no other port was reached either
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
        QTest::newRow("blanks around") << " server-1.example\t" << 3389 << QString();
        QTest::newRow("blank inside") << "127.0.0.1:33890 x" << 1 << badServer;
        QTest::newRow("blank before port") << "127.0.0.1 :33890" << 1 << badServer;
        QTest::newRow("no-break space") << QStringLiteral("a\u00A0b") << 3389 << badServer;
        QTest::newRow("new line") << "a\nb" << 3389 << badServer;
        QTest::newRow("control character") << "server\x01" << 3389 << badServer;
        QTest::newRow("zero-width space") << QStringLiteral("a\u200Bb") << 3389 << badServer;
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
        QTest::newRow("blank") << "127.0.0.1:33890 x" << 1;
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
        QVERIFY(form);
        QCOMPARE(form->msrdpclnt1->Server(), QString()); // never handed to the control
        QVERIFY(WaitUntil([&] { return form.isNull(); }, CutMs));
        QCOMPARE(RdpWorkerCount(), 0);
    }

    // The control refuses such an address itself, whoever hands it one.
    void controlRefusesWhatIsNoAddress()
    {
        TMsRdpClient5 control;
        for (const QString &server : {QStringLiteral("|3"), QStringLiteral("127.0.0.1:33890 x"), QStringLiteral("a\rb")}) {
            QVERIFY_THROWS_EXCEPTION(AppError, control.SetServer(server));
            QCOMPARE(control.Server(), QString());
        }
        control.SetServer(QStringLiteral(" 127.0.0.1 "));
        QCOMPARE(control.Server(), QStringLiteral("127.0.0.1"));
    }

    // The set-up error box is still open when the 10 s mark comes: no time-out
    // follows, and the window is neither closed nor destroyed inside its own
    // constructor, but closes once the box is.
    void setUpErrorBoxOpenAtTimeOut()
    {
        boxes_.reset(); // real boxes: the first opens under the window's constructor
        QStringList texts;
        const auto answer = [&texts](QDialog *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            auto *form = box ? qobject_cast<TfrmClient *>(box->parentWidget()) : nullptr;
            if (form && box->text().startsWith(QStringLiteral("无效的端口")))
                form->tmrTimeOut->start(50); // the 10 s mark, brought forward, comes under the box
            DialogAnswers::pressing(QMessageBox::Ok, &texts, 400)(w);
        };
        DialogAnswers answers({answer, answer});
        QPointer<TfrmClient> form = owner_->Open(Settings(QStringLiteral("127.0.0.1"), 0));
        QVERIFY(form);
        QCOMPARE(texts.size(), 1);
        QCOMPARE(owner_->open.size(), 1);
        QVERIFY(WaitUntil([&] { return form.isNull(); }, CutMs));
        QCOMPARE(owner_->open.size(), 0);
        QTest::qWait(500);
        QCOMPARE(texts.size(), 1);
    }

    // A disconnection while the fatal-error box is open: its own box, then the
    // window closes, but it is destroyed only once the fatal-error box is closed.
    void windowNotDestroyedUnderItsOwnBox()
    {
        QPointer<TfrmClient> form = OpenSilent();
        boxes_.reset(); // real boxes: the window must not go under its own open box
        QStringList texts;
        const auto answer = [&](QDialog *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (form && box && box->text().startsWith(QStringLiteral("未知错误")))
                QTimer::singleShot(0, form->msrdpclnt1, [control = form->msrdpclnt1] { emit control->OnDisconnected(0); });
            DialogAnswers::pressing(QMessageBox::Ok, &texts, 200)(w);
        };
        DialogAnswers answers({answer, answer});
        emit form->msrdpclnt1->OnFatalError(3);
        QStringList firstLines;
        for (const QString &text : std::as_const(texts))
            firstLines << text.section(QLatin1Char('\n'), 0, 0);
        firstLines.sort();
        QCOMPARE(firstLines, QStringList({QStringLiteral("NoInfo."), QStringLiteral("未知错误 请检查设置")}));
        QVERIFY(WaitUntil([&] { return form.isNull(); }, CutMs));
        QCOMPARE(owner_->open.size(), 0);
        QVERIFY(WaitForRdpWorkers(CutMs));
    }

    // No box outlives its window: when the owner takes the window away while one
    // of its boxes is open, the box goes with it.
    void boxGoesWithItsWindow()
    {
        QPointer<TfrmClient> form = OpenSilent();
        boxes_.reset(); // a real box: it must go with its window
        QPointer<QMessageBox> shown;
        DialogAnswers answer([&](QDialog *w) {
            shown = qobject_cast<QMessageBox *>(w);
            QTimer::singleShot(0, this, [this] { owner_.reset(); });
            DialogAnswers::pressing(QMessageBox::Ok, nullptr, 5000)(w);
        });
        QElapsedTimer timer;
        timer.start();
        emit form->msrdpclnt1->OnWarning(1);
        QVERIFY(answer.answered());
        QVERIFY(timer.elapsed() < 4000);
        QVERIFY(form.isNull());
        QVERIFY(shown.isNull());
        QVERIFY(WaitForRdpWorkers(CutMs));
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

    // A window closed at any moment of its attempt, from at once to well into
    // the handshake: it goes at once, its worker ends soon after, and nothing
    // is shown.
    void closeAtAnyMomentOfTheAttempt_data()
    {
        QTest::addColumn<int>("delayMs");
        for (int delay : {0, 1, 3, 10, 30, 100, 300})
            QTest::newRow(qPrintable(QStringLiteral("%1 ms").arg(delay))) << delay;
    }

    void closeAtAnyMomentOfTheAttempt()
    {
        QFETCH(int, delayMs);
        QList<QPointer<TfrmClient>> forms;
        // Silent servers: a refused port would end the attempt by itself, with
        // its box, before a late close on a quick machine.
        for (int i = 0; i < 4; ++i)
            forms << OpenSilent();
        QTest::qWait(delayMs);
        QVERIFY(CloseAll(forms) < CloseMs);
        // Four workers leave the library one after the other; on a busy machine
        // under the sanitizers that takes a while, never the attempt's 10 s.
        QVERIFY(WaitForRdpWorkers(CutMs));
        QTest::qWait(50);
        QCOMPARE(boxes_->texts.size(), 0);
        QCOMPARE(RdpWorkerCount(), 0);
    }

    // A name look-up that hangs (a name server that never answers) is cut
    // when the window closes: it does not hold the worker.
    void hangingLookupIsCut()
    {
        if (!g_loopbackNameServer)
            QSKIP("needs a mount namespace of its own to point look-ups at a silent local name server");
        QUdpSocket nameServer;
        QVERIFY2(nameServer.bind(QHostAddress::LocalHost, 53), qPrintable(nameServer.errorString()));
        QPointer<TfrmClient> form = owner_->Open(Settings(QStringLiteral("slow-lookup.invalid"), 3389));
        QVERIFY(WaitUntil([&] { return nameServer.hasPendingDatagrams(); }, 3000));
        QTest::qWait(300);
        QCOMPARE(RdpWorkerCount(), 1);
        QElapsedTimer timer;
        timer.start();
        form->close();
        QVERIFY(WaitForRdpWorkers(CutMs));
        QVERIFY(timer.elapsed() < CutMs);
        QCOMPARE(boxes_->texts.size(), 0);
    }

    // The store of remembered certificates is private, and something other
    // than a plain file or folder in its place is refused with a clear message,
    // never followed or opened.
    void certificateStoreIsPrivate()
    {
        QTemporaryDir root;
        const QString store = root.filePath(QStringLiteral("store"));
        TMsRdpClient5::SetCertificateStoreFolder(store);
        auto restore = qScopeGuard([&] { TMsRdpClient5::SetCertificateStoreFolder(store_.path()); });
        QPointer<TfrmClient> form = owner_->Open(Settings(QStringLiteral("127.0.0.1"), RdpTest::FreePort()));
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 5000));
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(store).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0700u);
        QCOMPARE(::stat(QFile::encodeName(store + QStringLiteral("/known_hosts2")).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
        QVERIFY(S_ISREG(info.st_mode));
    }

    void certificateStoreRefusesSpecialFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("words");
        QTest::newRow("fifo") << "fifo"
                              << "管道";
        QTest::newRow("symlink to a file") << "symlink"
                                           << "符号链接";
        QTest::newRow("folder") << "folder"
                                << "文件夹";
        QTest::newRow("store is a symlink") << "storelink"
                                            << "符号链接";
    }

    void certificateStoreRefusesSpecialFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QString, words);
        QTemporaryDir root;
        const QString store = root.filePath(QStringLiteral("store"));
        const QString target = root.filePath(QStringLiteral("target"));
        QFile targetFile(target);
        QVERIFY(targetFile.open(QIODevice::WriteOnly));
        targetFile.write("untouched\n");
        targetFile.close();
        QVERIFY(QDir().mkpath(store));
        const QByteArray hosts = QFile::encodeName(store + QStringLiteral("/known_hosts2"));
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(hosts.constData(), 0600), 0);
        else if (kind == QLatin1String("symlink"))
            QVERIFY(QFile::link(target, QString::fromLocal8Bit(hosts)));
        else if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(QString::fromLocal8Bit(hosts)));
        TMsRdpClient5::SetCertificateStoreFolder(store);
        if (kind == QLatin1String("storelink")) {
            QVERIFY(QFile::link(root.path(), root.filePath(QStringLiteral("link"))));
            TMsRdpClient5::SetCertificateStoreFolder(root.filePath(QStringLiteral("link")));
        }
        auto restore = qScopeGuard([&] { TMsRdpClient5::SetCertificateStoreFolder(store_.path()); });
        QPointer<TfrmClient> form = OpenSilent();
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 3000));
        QVERIFY(WaitForRdpWorkers(CutMs));
        QCOMPARE(boxes_->texts.size(), 1);
        const QString text = boxes_->texts[0];
        QVERIFY2(text.contains(QStringLiteral("原因: 证书存储")) && text.contains(words), qPrintable(text));
        QVERIFY(silent_->handles.isEmpty()); // no attempt was made
        QVERIFY(targetFile.open(QIODevice::ReadOnly));
        QCOMPARE(targetFile.readAll(), QByteArray("untouched\n"));
    }

    // The program's sockets, the web engine's included, are the C library's
    // own: nothing of the session stands in for connect(). (A sanitizer's
    // runtime may, in a sanitizer build; it passes the call on to the C library.)
    void connectIsTheLibrarys()
    {
        void *libc = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
        QVERIFY(libc);
        void *used = dlsym(RTLD_DEFAULT, "connect");
        Dl_info where{};
        QVERIFY(dladdr(used, &where) && where.dli_fname);
        const QString object = QFile::decodeName(where.dli_fname);
        const bool sanitizer = object.contains(QLatin1String("libtsan")) || object.contains(QLatin1String("libasan"));
        if (!sanitizer)
            QCOMPARE(used, dlsym(libc, "connect"));
        QVERIFY2(object.contains(QLatin1String("libc.so")) || sanitizer, qPrintable(object));
        dlclose(libc);
    }

    // The session object alone, without a widget: it speaks in signals, and
    // the end carries its cause.
    void sessionSpeaksInSignals()
    {
        RdpSession session;
        QSignalSpy ended(&session, &RdpSession::SessionEnded);
        QSignalSpy connected(&session, &RdpSession::SessionConnected);
        RdpConnectParams params;
        params.Host = QStringLiteral("127.0.0.1");
        params.Port = RdpTest::FreePort();
        params.CertificateStore = store_.path();
        session.Start(params);
        QVERIFY(ended.wait(5000));
        QCOMPARE(connected.size(), 0);
        const auto info = ended[0][0].value<RdpDisconnectInfo>();
        QCOMPARE(info.ServerReason, 0);
        QVERIFY2(info.Cause.contains(QStringLiteral("连接被拒绝")), qPrintable(info.Cause));
        QCOMPARE(session.Connected(), 0);
    }

    // Pictures cross the clipboard channel as bitmaps without their file
    // header, rows padded to four bytes: what goes out comes back the same.
    void clipboardPictureRoundTrip_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("1 x 1") << QSize(1, 1);
        QTest::newRow("odd row length") << QSize(3, 2);
        QTest::newRow("64 x 48") << QSize(64, 48);
    }

    void clipboardPictureRoundTrip()
    {
        QFETCH(QSize, size);
        QImage image(size, QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                image.setPixel(x, y, qRgb(x * 40 % 256, y * 70 % 256, (x + y) * 13 % 256));
        const QByteArray dib = RdpDibOfImage(image);
        QVERIFY(dib.size() >= 40);
        QCOMPARE(int(uchar(dib[0])), 40); // the bitmap's own header comes first
        const QImage back = RdpImageOfDib(dib);
        QCOMPARE(back.size(), size);
        QCOMPARE(back.convertToFormat(QImage::Format_RGB32), image);
        QVERIFY(RdpImageOfDib(dib.left(20)).isNull());
    }

    // Clipboard redirection is on unless the user turns it off before connecting.
    // A picture's header that claims more than its data holds, or more than
    // the bounds, is refused before anything is made of it.
    void clipboardPictureClaimsAreBounded_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("compression");
        QTest::addColumn<int>("dataBytes"); // after the 40-byte header
        QTest::addColumn<bool>("taken");
        QTest::newRow("5700 x 5700 in 56 bytes") << 5700 << 5700 << 32 << 0 << 16 << false;
        QTest::newRow("one row short") << 10 << 10 << 32 << 0 << 10 * 4 * 9 << false;
        QTest::newRow("whole") << 10 << 10 << 32 << 0 << 10 * 4 * 10 << true;
        QTest::newRow("drawn top down") << 10 << -10 << 24 << 0 << 32 * 10 << true;
        QTest::newRow("negative width") << -10 << 10 << 32 << 0 << 400 << false;
        QTest::newRow("too wide") << 70000 << 1 << 8 << 0 << 70000 + 1024 << false;
        QTest::newRow("run-length coded") << 4000 << 4000 << 8 << 1 << 1024 + 64 << false;
        QTest::newRow("no such depth") << 10 << 10 << 7 << 0 << 400 << false;
    }

    void clipboardPictureClaimsAreBounded()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, bits);
        QFETCH(int, compression);
        QFETCH(int, dataBytes);
        QFETCH(bool, taken);
        QByteArray dib(40 + dataBytes, '\x40');
        const auto put32 = [&](int at, quint32 v) {
            for (int i = 0; i < 4; ++i)
                dib[at + i] = char((v >> (8 * i)) & 0xFF);
        };
        put32(0, 40);
        put32(4, quint32(width));
        put32(8, quint32(height));
        dib[12] = 1;
        dib[13] = 0;
        dib[14] = char(bits);
        dib[15] = 0;
        put32(16, quint32(compression));
        put32(20, quint32(dataBytes));
        for (int at = 24; at < 40; at += 4)
            put32(at, 0);
        QElapsedTimer timer;
        timer.start();
        const QImage image = RdpImageOfDib(dib);
        QCOMPARE(!image.isNull(), taken);
        if (taken)
            QCOMPARE(image.size(), QSize(width, std::abs(height)));
        QVERIFY(timer.elapsed() < 1000);
    }

    // The scan code each key goes as. The level-3 key is AltGr (the right Alt,
    // extended) to a Windows layout, on whichever key the desktop has it.
    void scanCodes_data()
    {
        QTest::addColumn<uint>("keycode"); // X key code; 0: none
        QTest::addColumn<int>("key");
        QTest::addColumn<uint>("scanCode");
        QTest::newRow("ISO_Level3_Shift, key code 92") << 92u << int(Qt::Key_AltGr) << 0x138u;
        QTest::newRow("key code 92, no key told") << 92u << 0 << 0x138u;
        QTest::newRow("AltGr on the right Alt key") << 108u << int(Qt::Key_AltGr) << 0x138u;
        QTest::newRow("level 3 on Caps Lock") << 66u << int(Qt::Key_AltGr) << 0x138u;
        QTest::newRow("AltGr without a key code") << 0u << int(Qt::Key_AltGr) << 0x138u;
        QTest::newRow("right Alt") << 108u << int(Qt::Key_Alt) << 0x138u;
        QTest::newRow("left Alt") << 64u << int(Qt::Key_Alt) << 0x38u;
        QTest::newRow("E") << 26u << int(Qt::Key_E) << 0x12u;
        QTest::newRow("Q, with AltGr held: @") << 24u << int(Qt::Key_At) << 0x10u;
        QTest::newRow("left arrow, no key code") << 0u << int(Qt::Key_Left) << 0x14Bu;
        QTest::newRow("menu key, no key code") << 0u << int(Qt::Key_Menu) << 0x15Du;
        QTest::newRow("right Super, no key code") << 0u << int(Qt::Key_Super_R) << 0x15Cu;
        QTest::newRow("euro sign, no key code") << 0u << 0x20AC << 0u;
    }

    void scanCodes()
    {
        QFETCH(uint, keycode);
        QFETCH(int, key);
        QFETCH(uint, scanCode);
        QCOMPARE(RdpScanCode(keycode, key), scanCode);
    }

    void clipboardRedirectionCanBeTurnedOff()
    {
        TMsRdpClient5 control;
        QVERIFY(control.RedirectClipboard());
        control.SetRedirectClipboard(false);
        QVERIFY(!control.RedirectClipboard());
        control.SetServer(QStringLiteral("127.0.0.1"));
        control.AdvancedSettings2()->SetRDPPort(silent_->Port());
        control.Connect();
        bool refused = false;
        try {
            control.SetRedirectClipboard(true);
        } catch (const AppError &) {
            refused = true;
        }
        QVERIFY(refused);
        QVERIFY(!control.RedirectClipboard());
        control.Cancel();
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

    // The owner going with sessions open ends every worker at once and shows
    // nothing.
    void ownerDestroyedEndsEveryWorker()
    {
        for (int i = 0; i < 3; ++i)
            OpenSilent();
        QVERIFY(WaitUntil([&] { return silent_->handles.size() == 3; }, 3000));
        QCOMPARE(RdpWorkerCount(), 3);
        QElapsedTimer timer;
        timer.start();
        owner_.reset();
        QVERIFY(WaitForRdpWorkers(CutMs));
        QVERIFY(timer.elapsed() < CutMs);
        QTest::qWait(50);
        QCOMPARE(boxes_->texts.size(), 0);
    }
};

int main(int argc, char **argv)
{
    const bool isolated = RdpTest::EnterPrivateNetwork();
    QTemporaryDir resolver;
    g_loopbackNameServer = isolated && UseLoopbackNameServer(resolver.path());
    QApplication app(argc, argv);
    TestSessionOffline test;
    test.isolated = isolated;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sessionoffline.moc"
