// Session windows against a real RDP server on loopback: the FreeRDP shadow
// server showing an Xvfb display that a small X program paints.

#include "DesktopSizeFollower.h"
#include "MessageBoxAnswers.h"
#include "MsgBox.h"
#include "SessionTestSupport.h"
#include "TestPattern.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QScreen>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWheelEvent>

#include <algorithm>

namespace {

constexpr QRgb Background = 0x336699;
constexpr QRgb Other = 0xCC6633;

QStringList g_log;
QtMessageHandler g_previousHandler = nullptr;

void CaptureLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    g_log << message;
    if (type != QtDebugMsg || qEnvironmentVariableIsSet("SHOW_RDP_LOG"))
        g_previousHandler(type, context, message);
}

} // namespace

class TestSessionServer : public QObject {
    Q_OBJECT
public:
    bool isolated = false;

private:
    QTemporaryDir work_;
    RdpTest::Display display_;
    RdpTest::Server server_;
    RdpTest::Painter painter_;
    QString keysFile_;
    std::unique_ptr<MessageBoxAnswers> boxes_;
    std::unique_ptr<FakeOwner> owner_;

    TfrmClient *OpenConnected(TClientSettings settings)
    {
        TfrmClient *form = owner_->Open(settings);
        QSignalSpy connected(form->msrdpclnt1, &TMsRdpClient5::OnConnected);
        if (!connected.wait(10000) && connected.isEmpty())
            return nullptr;
        return form;
    }

    TClientSettings ServerSettings(int width = 1024, int height = 768) const
    {
        return Settings(QStringLiteral("127.0.0.1"), server_.Port(), width, height);
    }

    // A bare control connected to the fixture's server, with the pipeline offered or not.
    std::unique_ptr<TMsRdpClient5> OpenControl(bool pipeline, bool avc444 = false)
    {
        auto control = std::make_unique<TMsRdpClient5>();
        control->resize(1024, 768);
        control->SetServer(QStringLiteral("127.0.0.1"));
        control->AdvancedSettings2()->SetRDPPort(server_.Port());
        control->SetDesktopWidth(1024);
        control->SetDesktopHeight(768);
        control->SetColorDepth(24);
        control->SetGraphicsPipeline(pipeline);
        control->SetGraphicsAvc444(avc444);
        control->show();
        control->Connect();
        return control;
    }

    // Waits until the control's picture shows the whole still pattern.
    static bool ShowsPattern(const TMsRdpClient5 &control, int ms = 10000)
    {
        const auto matches = [&] {
            const QImage frame = control.RemoteFrame();
            if (frame.size() != QSize(1024, 768))
                return false;
            for (int y = PatternCell / 2; y < 768; y += PatternCell)
                for (int x = PatternCell / 2; x < 1024; x += PatternCell)
                    if (!NearColor(frame.pixel(x, y), QRgb(PatternColor(x, y, 768)), 24))
                        return false;
            return true;
        };
        return WaitUntil(matches, ms);
    }

    bool Shows(QWidget *widget, QRgb color, int ms = 5000)
    {
        if (WaitUntil([&] { return NearColor(CentrePixel(widget), color); }, ms))
            return true;
        qWarning("centre pixel %06x, expected %06x", CentrePixel(widget), color);
        return false;
    }

private slots:
    void initTestCase()
    {
        const QString missing = RdpTest::MissingServerPrograms();
        if (!missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs %1 for a loopback RDP server").arg(missing)));
        InstallErrorMessageBoxes();
        TMsRdpClient5::SetCertificateStoreFolder(work_.filePath(QStringLiteral("store")));
        QString error;
        QVERIFY2(display_.Start(&error), qPrintable(error));
        keysFile_ = work_.filePath(QStringLiteral("keys.txt"));
        QVERIFY(painter_.Start(QStringLiteral(BRENNIC_X11_TARGET), display_, QStringLiteral("336699"), keysFile_));
        QVERIFY2(server_.Start(display_, &error), qPrintable(error));
    }

    void init()
    {
        boxes_ = std::make_unique<MessageBoxAnswers>();
        owner_ = std::make_unique<FakeOwner>();
    }

    void cleanup()
    {
        owner_.reset();
        QVERIFY(WaitForRdpWorkers(CutMs));
        boxes_.reset();
    }

    // The first connection asks about the server's certificate and remembers it
    // when trusted; a refused certificate ends the attempt; a changed one is
    // refused with a warning unless the user accepts it.
    void certificates()
    {
        QTemporaryDir store;
        TMsRdpClient5::SetCertificateStoreFolder(store.path());
        auto restore = qScopeGuard([&] { TMsRdpClient5::SetCertificateStoreFolder(work_.filePath(QStringLiteral("store"))); });

        boxes_->answer = QMessageBox::No;
        QPointer<TfrmClient> form = owner_->Open(ServerSettings());
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 10000));
        QCOMPARE(boxes_->questions.size(), 1);
        QCOMPARE(boxes_->questionIcons[0], QMessageBox::Question);
        QVERIFY2(boxes_->questions[0].contains(QStringLiteral("指纹: ")), qPrintable(boxes_->questions[0]));
        QVERIFY(boxes_->questions[0].contains(QStringLiteral("127.0.0.1:%1").arg(server_.Port())));
        QCOMPARE(boxes_->texts.size(), 1);
        QVERIFY2(boxes_->texts[0].contains(QStringLiteral("服务器: 127.0.0.1")), qPrintable(boxes_->texts[0]));
        QVERIFY2(boxes_->texts[0].contains(QStringLiteral("原因: 您拒绝了服务器的证书")), qPrintable(boxes_->texts[0]));
        // The server's certificate is its own, made out to its host name.
        QVERIFY2(boxes_->questions[0].contains(QStringLiteral("自签名证书")), qPrintable(boxes_->questions[0]));
        QVERIFY2(boxes_->questions[0].contains(QStringLiteral("与服务器地址 127.0.0.1 不符")), qPrintable(boxes_->questions[0]));

        boxes_->Clear();
        boxes_->answer = QMessageBox::Yes;
        QVERIFY(OpenConnected(ServerSettings()));
        QCOMPARE(boxes_->questions.size(), 1);
        QCOMPARE(boxes_->questionIcons[0], QMessageBox::Question);
        QCOMPARE(boxes_->texts.size(), 0);
        const QString firstQuestion = boxes_->questions[0];

        boxes_->Clear();
        QVERIFY(OpenConnected(ServerSettings()));
        QCOMPARE(boxes_->questions.size(), 0); // remembered

        // Another server, with a certificate of its own, on the remembered address.
        owner_.reset();
        owner_ = std::make_unique<FakeOwner>();
        QString error;
        server_.Stop();
        auto restart = qScopeGuard([&] {
            QString restartError;
            server_.Start(display_, &restartError, {}, {}, server_.Port());
        });
        RdpTest::Server replacement;
        QVERIFY2(replacement.Start(display_, &error, {}, {}, server_.Port()), qPrintable(error));
        boxes_->Clear();
        boxes_->answer = QMessageBox::No;
        QPointer<TfrmClient> changed = owner_->Open(ServerSettings());
        QVERIFY(WaitUntil([&] { return changed.isNull(); }, 10000));
        QCOMPARE(boxes_->questions.size(), 1);
        QCOMPARE(boxes_->questionIcons[0], QMessageBox::Warning);
        QVERIFY2(boxes_->questions[0].contains(QStringLiteral("证书已更改")), qPrintable(boxes_->questions[0]));
        QVERIFY(boxes_->questions[0] != firstQuestion);
        QCOMPARE(boxes_->texts.size(), 1); // the refused connection's message

        // Accepted explicitly, it connects.
        boxes_->Clear();
        boxes_->answer = QMessageBox::Yes;
        QVERIFY(OpenConnected(ServerSettings()));
        QCOMPARE(boxes_->questions.size(), 1);
        replacement.Stop();
    }

    // A user who takes longer than the time-out to decide on the certificate is
    // not overtaken by it.
    void slowCertificateAnswerIsWaitedFor()
    {
        QTemporaryDir store;
        TMsRdpClient5::SetCertificateStoreFolder(store.path());
        auto restore = qScopeGuard([&] { TMsRdpClient5::SetCertificateStoreFolder(work_.filePath(QStringLiteral("store"))); });
        boxes_->delayMs = TfrmClient::TimeOutMs + 1000;
        QPointer<TfrmClient> form = owner_->Open(ServerSettings());
        QSignalSpy connected(form->msrdpclnt1, &TMsRdpClient5::OnConnected);
        QVERIFY(connected.wait(TfrmClient::TimeOutMs + 8000));
        QCOMPARE(boxes_->questions.size(), 1);
        QCOMPARE(boxes_->texts.size(), 0);
        QVERIFY(form && form->isVisible() && form->msrdpclnt1->Connected() > 0);
    }

    // An answer that comes just before the time-out would have run out: the
    // attempt gets its whole time after it and connects.
    void lateCertificateAnswerGetsFullTime()
    {
        QTemporaryDir store;
        TMsRdpClient5::SetCertificateStoreFolder(store.path());
        auto restore = qScopeGuard([&] { TMsRdpClient5::SetCertificateStoreFolder(work_.filePath(QStringLiteral("store"))); });
        boxes_->delayMs = TfrmClient::TimeOutMs - 400;
        QPointer<TfrmClient> form = owner_->Open(ServerSettings());
        QSignalSpy connected(form->msrdpclnt1, &TMsRdpClient5::OnConnected);
        QVERIFY(connected.wait(TfrmClient::TimeOutMs + 5000));
        QTest::qWait(1000);
        QCOMPARE(boxes_->questions.size(), 1);
        QCOMPARE(boxes_->texts.size(), 0);
        QVERIFY(form && form->isVisible() && form->msrdpclnt1->Connected() > 0);
    }

    // Closing at any moment of the handshake with a real server: the window goes
    // at once, the worker ends soon after (a connection that came up is ended
    // properly, which under the sanitizers on a busy machine takes a while) and
    // nothing is shown.
    void closeAtAnyMomentOfTheHandshake()
    {
        for (int delay : {0, 2, 10, 30, 60, 100, 200, 400, 800}) {
            QList<QPointer<TfrmClient>> forms;
            for (int i = 0; i < 2; ++i)
                forms << owner_->Open(ServerSettings(640, 480));
            QTest::qWait(delay);
            QVERIFY(CloseAll(forms) < CloseMs);
            QVERIFY2(WaitForRdpWorkers(2000), qPrintable(QStringLiteral("after %1 ms").arg(delay)));
        }
        QTest::qWait(100);
        QCOMPARE(boxes_->texts.size(), 0);
        QCOMPARE(RdpWorkerCount(), 0);
    }

    // The owner goes (the program ends) while a certificate question is open:
    // the session is given up, its worker ends, and nothing else is shown.
    void ownerGoesDuringCertificateQuestion()
    {
        QTemporaryDir store;
        TMsRdpClient5::SetCertificateStoreFolder(store.path());
        auto restore = qScopeGuard([&] { TMsRdpClient5::SetCertificateStoreFolder(work_.filePath(QStringLiteral("store"))); });
        boxes_->delayMs = 1500;
        boxes_->onShown = [this](const MessageBoxAnswers::Box &) {
            QTimer::singleShot(0, this, [this] { owner_.reset(); });
        };
        QPointer<TfrmClient> form = owner_->Open(ServerSettings());
        QVERIFY(WaitUntil([&] { return form.isNull() && boxes_->questions.size() == 1; }, 10000));
        QVERIFY(WaitForRdpWorkers(CutMs));
        QTest::qWait(200);
        QCOMPARE(boxes_->texts.size(), 0);
        owner_ = std::make_unique<FakeOwner>();
    }

    void connectShowsTheRemoteDesktop()
    {
        QElapsedTimer timer;
        timer.start();
        TfrmClient *form = OpenConnected(ServerSettings());
        QVERIFY(form);
        QVERIFY(form->msrdpclnt1->Connected() > 0);
        QVERIFY(form->msrdpclnt1->cursor().shape() != Qt::WaitCursor);
        QVERIFY(Shows(form->msrdpclnt1, Background));
        QCOMPARE(form->msrdpclnt1->RemoteDesktopSize(), QSize(1024, 768));
        // A connection that is up when the time-out comes: nothing happens, and
        // the timer does not fire again.
        form->tmrTimeOutTimer();
        QVERIFY(!form->tmrTimeOut->isActive());
        QVERIFY(!form->LDisconnected);
        QVERIFY(form->isVisible());
        QCOMPARE(boxes_->texts.size(), 0);
    }

    void keysReachTheServer()
    {
        TfrmClient *form = OpenConnected(ServerSettings());
        QVERIFY(form);
        QVERIFY(Shows(form->msrdpclnt1, Background));
        const qint64 before = QFileInfo(keysFile_).size();
        QTest::keyClicks(form->msrdpclnt1, QStringLiteral("brennic42"));
        QTest::keyClick(form->msrdpclnt1, Qt::Key_Return);
        QVERIFY(WaitUntil(
            [&] {
                QFile f(keysFile_);
                return f.open(QIODevice::ReadOnly) && f.readAll().mid(before).contains("brennic42\n");
            },
            5000));
    }

    // Mouse buttons and the wheel reach the server where they were pressed.
    void mouseReachesTheServer()
    {
        TfrmClient *form = OpenConnected(ServerSettings());
        QVERIFY(form);
        QVERIFY(Shows(form->msrdpclnt1, Background));
        const qint64 before = QFileInfo(keysFile_).size();
        auto written = [&] {
            QFile f(keysFile_);
            return f.open(QIODevice::ReadOnly) ? f.readAll().mid(before) : QByteArray();
        };
        QTest::mouseMove(form->msrdpclnt1, QPoint(100, 200));
        QTest::mouseClick(form->msrdpclnt1, Qt::LeftButton, {}, QPoint(100, 200));
        QVERIFY2(WaitUntil([&] { return written().contains("[b1 100,200]"); }, 5000), written().constData());
        QTest::mouseClick(form->msrdpclnt1, Qt::RightButton, {}, QPoint(300, 400));
        QVERIFY2(WaitUntil([&] { return written().contains("[b3 300,400]"); }, 5000), written().constData());
        QWheelEvent down(QPointF(50, 60), form->msrdpclnt1->mapToGlobal(QPointF(50, 60)), QPoint(), QPoint(0, -120),
                         Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(form->msrdpclnt1, &down);
        QVERIFY2(WaitUntil([&] { return written().contains("[b5 50,60]"); }, 5000), written().constData());
        QWheelEvent up(QPointF(50, 60), form->msrdpclnt1->mapToGlobal(QPointF(50, 60)), QPoint(), QPoint(0, 120),
                       Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(form->msrdpclnt1, &up);
        QVERIFY2(WaitUntil([&] { return written().contains("[b4 50,60]"); }, 5000), written().constData());
    }

    // The user's close disconnects once, shows nothing, and the window goes.
    void userCloseDisconnectsOnce()
    {
        QPointer<TfrmClient> form = OpenConnected(ServerSettings());
        QVERIFY(form);
        TMsRdpClient5 *control = form->msrdpclnt1;
        QSignalSpy disconnected(control, &TMsRdpClient5::OnDisconnected);
        form->close();
        QVERIFY(form->LDisconnected);
        QCOMPARE(control->DisconnectCalls(), 1);
        QCOMPARE(owner_->removeCalls, 1);
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 1000));
        QVERIFY(WaitForRdpWorkers(CutMs));
        QTest::qWait(100);
        QCOMPARE(boxes_->texts.size(), 0);
    }

    void serverKilledMidSession()
    {
        RdpTest::Server doomed;
        QString error;
        QVERIFY2(doomed.Start(display_, &error), qPrintable(error));
        QPointer<TfrmClient> form = OpenConnected(Settings(QStringLiteral("127.0.0.1"), doomed.Port()));
        QVERIFY(form);
        QVERIFY(Shows(form->msrdpclnt1, Background));
        doomed.Kill();
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 5000));
        QCOMPARE(boxes_->texts.size(), 1);
        const QString text = boxes_->texts[0];
        QCOMPARE(text.section(QLatin1Char('\n'), 0, 0), QStringLiteral("NoInfo."));
        QVERIFY2(text.contains(QStringLiteral("服务器: 127.0.0.1:%1").arg(doomed.Port())), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("原因: 连接已中断")), qPrintable(text));
        QCOMPARE(owner_->open.size(), 0);
    }

    // A server that asks for credentials: the right ones connect, a wrong password
    // fails with a clear message, and the password is in no log line.
    void credentials()
    {
        RdpTest::Server guarded;
        QString error;
        QVERIFY2(guarded.Start(display_, &error, QStringLiteral("rdpuser"), QStringLiteral("S3cret!")),
                 qPrintable(error));
        QLoggingCategory::setFilterRules(QStringLiteral("brennic.rdp.debug=true"));
        g_log.clear();
        g_previousHandler = qInstallMessageHandler(CaptureLog);
        auto restore = qScopeGuard([] {
            qInstallMessageHandler(g_previousHandler);
            QLoggingCategory::setFilterRules(QString());
        });

        TClientSettings good = Settings(QStringLiteral("127.0.0.1"), guarded.Port());
        TfrmClient *form = OpenConnected(good);
        QVERIFY(form);
        QVERIFY(Shows(form->msrdpclnt1, Background));

        TClientSettings bad = good;
        bad.Password = QStringLiteral("Wr0ngPass");
        boxes_->Clear();
        QPointer<TfrmClient> refused = owner_->Open(bad);
        QVERIFY(WaitUntil([&] { return refused.isNull(); }, 10000));
        QCOMPARE(boxes_->texts.size(), 1);
        const QString text = boxes_->texts[0];
        QVERIFY2(text.contains(QStringLiteral("服务器: 127.0.0.1:%1").arg(guarded.Port())), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("原因: 身份验证失败")), qPrintable(text));

        QVERIFY(!g_log.isEmpty());
        for (const QString &line : std::as_const(g_log)) {
            QVERIFY2(!line.contains(QStringLiteral("S3cret!")), qPrintable(line));
            QVERIFY2(!line.contains(QStringLiteral("Wr0ngPass")), qPrintable(line));
        }
    }

    void fullScreenAndLeavingIt()
    {
        TClientSettings s = ServerSettings(1280, 1024);
        s.FullScreen = true;
        TfrmClient *form = OpenConnected(s);
        QVERIFY(form);
        QVERIFY(form->isFullScreen());
        const QSize screen = QGuiApplication::primaryScreen()->size();
        QCOMPARE(form->size(), screen);
        // A hint says how to leave, across the top of the screen, and goes by itself.
        auto *hint = form->msrdpclnt1->findChild<QLabel *>(QStringLiteral("lblFullScreenHint"));
        QVERIFY(hint);
        QVERIFY(hint->isVisible());
        QCOMPARE(hint->text(), QStringLiteral("按 Ctrl+Alt+Enter 退出全屏"));
        QVERIFY(WaitUntil([&] { return qAbs(hint->geometry().center().x() - form->msrdpclnt1->width() / 2) <= 2; }, 2000));
        QVERIFY(WaitUntil([&] { return !hint->isVisible(); }, 10000));
        QSignalSpy left(form->msrdpclnt1, &TMsRdpClient5::OnLeaveFullScreenMode);
        QTest::keyClick(form->msrdpclnt1, Qt::Key_Return, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(left.size(), 1);
        QVERIFY(!form->isFullScreen());
        QVERIFY(!form->msrdpclnt1->FullScreen());
        QVERIFY(WaitUntil([&] { return form->size() == TfrmClient::DesignClientSize(); }, 2000));
        QCOMPARE(form->frameGeometry().topLeft(), QPoint(10, 10));
        QVERIFY(form->msrdpclnt1->Connected() > 0);

        // The same keys take the session back into full screen, with the hint, and out again.
        QTest::keyClick(form->msrdpclnt1, Qt::Key_Return, Qt::ControlModifier | Qt::AltModifier);
        QVERIFY(form->msrdpclnt1->FullScreen());
        QVERIFY(WaitUntil([&] { return form->isFullScreen() && form->size() == screen; }, 2000));
        QVERIFY(hint->isVisible());
        QTest::keyClick(form->msrdpclnt1, Qt::Key_Return, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(left.size(), 2);
        QVERIFY(!form->msrdpclnt1->FullScreen());
        QVERIFY(!hint->isVisible());
        QVERIFY(WaitUntil([&] { return !form->isFullScreen(); }, 2000));
        QVERIFY(form->msrdpclnt1->Connected() > 0);
    }

    // The remote desktop's size is the server's: a server that keeps its own
    // size is shown whole, scaled into the window.
    void remoteSizeIsFollowed()
    {
        TfrmClient *form = OpenConnected(ServerSettings(800, 600));
        QVERIFY(form);
        QVERIFY(WaitUntil([&] { return form->msrdpclnt1->RemoteDesktopSize().isValid(); }, 5000));
        QVERIFY(Shows(form->msrdpclnt1, Background));
        const QSize remote = form->msrdpclnt1->RemoteDesktopSize();
        QCOMPARE(form->msrdpclnt1->RemoteFrame().size(), remote);
    }

    void graphicsPipelineShowsTheSamePicture_data()
    {
        QTest::addColumn<bool>("avc444");
        QTest::addColumn<QStringList>("h264");
        QTest::newRow("AVC420") << false << QStringList{QStringLiteral("AVC420")};
        QTest::newRow("AVC444") << true << QStringList{QStringLiteral("AVC444v2"), QStringLiteral("AVC444")};
    }

    // The graphics pipeline, which this server offers, shows the same picture as
    // bitmap updates do; which codec carried it is told.
    void graphicsPipelineShowsTheSamePicture()
    {
        QFETCH(bool, avc444);
        QFETCH(QStringList, h264);
        auto plain = OpenControl(false);
        auto piped = OpenControl(true, avc444);
        QVERIFY(WaitUntil([&] { return plain->Connected() && piped->GraphicsPipelineOpen(); }, 10000));
        // The server takes the pipeline into use for what changes once it has
        // agreed on the codecs, a moment after the channel opened: the picture
        // to compare comes after that.
        QTest::qWait(1000);
        RdpTest::Painter pattern;
        QVERIFY(pattern.Start(QStringLiteral(BRENNIC_X11_TARGET), display_, QStringLiteral("336699"), {}, 0, {}, 0,
                              true));
        QVERIFY(ShowsPattern(*plain));
        QVERIFY(ShowsPattern(*piped));
        // Both asked for 24 bits; the pipeline runs at the 32 it needs, and says so.
        QCOMPARE(plain->ColorDepth(), 24);
        QCOMPARE(piped->ColorDepth(), 32);

        QVERIFY(!plain->GraphicsPipelineOpen());
        QCOMPARE(plain->GraphicsCodecs(), QStringList{QStringLiteral("bitmap")});
        // It encodes with H.264 when the client can decode it, in the form offered.
        QStringList codecs;
        const auto inH264 = [&] {
            codecs = piped->GraphicsCodecs();
            return std::any_of(h264.begin(), h264.end(), [&](const QString &c) { return codecs.contains(c); });
        };
        QVERIFY2(WaitUntil(inH264, 5000), qPrintable(codecs.join(QStringLiteral(", "))));
        // Nothing else: bitmap updates at most before the pipeline was agreed on.
        QStringList others = codecs;
        others.removeAll(QStringLiteral("bitmap"));
        QVERIFY2(others.size() == 1, qPrintable(codecs.join(QStringLiteral(", "))));
        qInfo("codecs: %s", qPrintable(codecs.join(QStringLiteral(", "))));

        // Pixel by pixel: both ways of sending may move a colour a little (the
        // server's bitmaps drop colour precision too), and H.264 may blur the odd
        // pixel at an edge.
        const QImage a = plain->RemoteFrame();
        QImage b;
        int far = 0;
        const auto close = [&] {
            b = piped->RemoteFrame();
            far = 0;
            for (int y = 0; y < a.height(); ++y)
                for (int x = 0; x < a.width(); ++x)
                    if (!NearColor(a.pixel(x, y), b.pixel(x, y), 24))
                        ++far;
            return far <= a.width() * a.height() / 200;
        };
        QVERIFY2(WaitUntil(close, 5000), qPrintable(QStringLiteral("%1 pixels differ").arg(far)));
        qInfo("%d of %d pixels differ by more than 24 in a colour", far, a.width() * a.height());
    }

    // A session at a colour depth below the pipeline's does not offer it: bitmap
    // updates at the depth asked for.
    void lowColourDepthKeepsBitmapUpdates()
    {
        auto control = std::make_unique<TMsRdpClient5>();
        control->resize(1024, 768);
        control->SetServer(QStringLiteral("127.0.0.1"));
        control->AdvancedSettings2()->SetRDPPort(server_.Port());
        control->SetColorDepth(16);
        control->show();
        control->Connect();
        QVERIFY(WaitUntil([&] { return NearColor(control->RemotePixel(QPoint(512, 384)), Background); }, 10000));
        QVERIFY(!control->GraphicsPipelineOpen());
        QVERIFY(control->GraphicsCodecs().contains(QStringLiteral("bitmap")));
        QCOMPARE(control->ColorDepth(), 16);
    }

    // This server does not offer to change the desktop's size: a resized window
    // asks nothing and shows the whole desktop scaled.
    void resizeWithoutDisplayControlScales()
    {
        TfrmClient *form = OpenConnected(ServerSettings());
        QVERIFY(form);
        QVERIFY(Shows(form->msrdpclnt1, Background));
        form->resize(800, 500);
        QTest::qWait(DesktopSizeFollower::SettleMs + 600);
        QVERIFY(!form->msrdpclnt1->DynamicResolutionReady());
        QCOMPARE(form->msrdpclnt1->DesktopSizeRequests(), 0);
        QCOMPARE(form->msrdpclnt1->RemoteDesktopSize(), QSize(1024, 768));
        QVERIFY(Shows(form->msrdpclnt1, Background));
        QVERIFY(form->msrdpclnt1->Connected() > 0);
    }

    void fiveSessionsAtOnce()
    {
        QList<QPointer<TfrmClient>> forms;
        for (int i = 0; i < 5; ++i)
            forms << owner_->Open(ServerSettings(640, 480));
        QVERIFY(WaitUntil(
            [&] {
                return std::all_of(forms.begin(), forms.end(),
                                   [](const QPointer<TfrmClient> &f) { return f && f->msrdpclnt1->Connected() > 0; });
            },
            20000));
        QCOMPARE(owner_->open.size(), 5);
        for (auto &form : forms)
            QVERIFY(Shows(form->msrdpclnt1, Background));
        forms[2]->close();
        QVERIFY(WaitUntil([&] { return forms[2].isNull(); }, 1000));
        QCOMPARE(owner_->open.size(), 4);
        QCOMPARE(boxes_->texts.size(), 0);

        RdpTest::Painter cover;
        QVERIFY(cover.Start(QStringLiteral(BRENNIC_X11_TARGET), display_, QStringLiteral("cc6633")));
        for (int i : {0, 1, 3, 4}) {
            QVERIFY(forms[i]->msrdpclnt1->Connected() > 0);
            QVERIFY(Shows(forms[i]->msrdpclnt1, Other));
        }
        cover.Stop();
        QCOMPARE(RdpWorkerCount(), 4);
    }
};

int main(int argc, char **argv)
{
    const bool isolated = RdpTest::EnterPrivateNetwork();
    QApplication app(argc, argv);
    TestSessionServer test;
    test.isolated = isolated;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sessionserver.moc"
