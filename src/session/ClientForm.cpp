#include "ClientForm.h"

#include "AppError.h"
#include "DisconnectReasons.h"
#include "MsgBox.h"
#include "ServerAddress.h"

#include <QCloseEvent>
#include <QPointer>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

QString TfrmClient::DesignCaption()
{
    return QStringLiteral("Remote Desktop");
}

QSize TfrmClient::DesignClientSize()
{
    return QSize(694, 441);
}

TfrmClient::TfrmClient(QWidget *AOwner, const TClientSettings &aSett)
    : QWidget(AOwner, Qt::Window), FClientSettings(aSett), LOwner(AOwner)
{
    // The window and its two members, from the design; the time-out runs from now.
    setWindowTitle(DesignCaption());
    resize(DesignClientSize());
    tmrTimeOut = new QTimer(this);
    tmrTimeOut->setInterval(TimeOutMs);
    tmrTimeOut->setTimerType(Qt::PreciseTimer);
    connect(tmrTimeOut, &QTimer::timeout, this, [this] { Guard([&] { tmrTimeOutTimer(); }); });
    tmrTimeOut->start();

    placer_ = new QTimer(this);
    placer_->setInterval(20);
    connect(placer_, &QTimer::timeout, this, [this] { PlaceAfterFullScreen(); });

    msrdpclnt1 = new TMsRdpClient5(this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(msrdpclnt1);
    setFocusProxy(msrdpclnt1);
    connect(msrdpclnt1, &TMsRdpClient5::OnConnected, this, [this] { Guard([&] { msrdpclnt1Connected(); }); });
    connect(msrdpclnt1, &TMsRdpClient5::OnDisconnected, this,
            [this](int reason) { Guard([&] { msrdpclnt1Disconnected(reason); }); });
    connect(msrdpclnt1, &TMsRdpClient5::OnLeaveFullScreenMode, this,
            [this] { Guard([&] { msrdpclnt1LeaveFullScreenMode(); }); });
    connect(msrdpclnt1, &TMsRdpClient5::OnFatalError, this,
            [this](int code) { Guard([&] { msrdpclnt1FatalError(code); }); });
    connect(msrdpclnt1, &TMsRdpClient5::OnWarning, this,
            [this](int code) { Guard([&] { msrdpclnt1Warning(code); }); });
    connect(msrdpclnt1, &TMsRdpClient5::OnLogonError, this,
            [this](int code) { Guard([&] { msrdpclnt1LogonError(code); }); });
    connect(msrdpclnt1, &TMsRdpClient5::OnUserNameAcquired, this,
            [this](const QString &name) { Guard([&] { msrdpclnt1UserNameAcquired(name); }); });
    // The time the user takes to decide on a certificate does not count: the
    // attempt gets its whole time again once the question is answered.
    connect(msrdpclnt1, &TMsRdpClient5::CertificateAsked, this, [this] { tmrTimeOut->stop(); });
    connect(msrdpclnt1, &TMsRdpClient5::CertificateAnswered, this, [this] {
        if (!LDisconnected && !finished_)
            tmrTimeOut->start();
    });

    CreateParams();

    try {
        SetUp();
    } catch (const AppError &error) {
        // Nothing was started, so nothing can time out: the window closes once
        // its opener has shown it and the user has read why.
        LDisconnected = true;
        tmrTimeOut->stop();
        if (ShowFailure(error.message(), QString()))
            QTimer::singleShot(0, this, [this] { Guard([&] { CloseForm(); }); });
    }

    // Centred on the screen when first shown.
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

TfrmClient::~TfrmClient()
{
    // Destroyed with its owner: nothing is shown and nobody is told.
    finished_ = true;
    tmrTimeOut->stop();
    msrdpclnt1->Cancel();
}

void TfrmClient::SetUp()
{
    const TClientSettings &s = FClientSettings;
    // Refused here, before anything reaches the library.
    for (const QString &problem : {ServerFieldProblem(s.Server), PortProblem(s.Port)})
        if (!problem.isEmpty())
            throw AppError(problem);
    msrdpclnt1->SetConnectingText(QStringLiteral("Talvane 提醒您:正在连接....."));
    msrdpclnt1->SetServer(s.Server);
    msrdpclnt1->AdvancedSettings2()->SetRDPPort(s.Port);
    msrdpclnt1->SetDomain(s.Domain);
    msrdpclnt1->SetUserName(s.User);
    msrdpclnt1->AdvancedSettings2()->SetClearTextPassword(s.Password);
    FWidth_Old = frameGeometry().width();
    FHeight_Old = frameGeometry().height();
    if (s.FullScreen) {
        const QSize screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->size()
                                                              : QSize(s.Width, s.Height);
        resize(screen);
        msrdpclnt1->SetDesktopWidth(screen.width());
        msrdpclnt1->SetDesktopHeight(screen.height());
        msrdpclnt1->SetFullScreen(true);
    } else {
        resize(s.Width, s.Height);
        msrdpclnt1->SetDesktopWidth(s.Width);
        msrdpclnt1->SetDesktopHeight(s.Height);
    }
    // The session uses the server's stored colour depth.
    msrdpclnt1->SetColorDepth(s.ColorDepth);
    msrdpclnt1->SecuredSettings2()->SetKeyboardHookMode(1);
    msrdpclnt1->setCursor(Qt::WaitCursor);
    msrdpclnt1->Connect();
}

// An ordinary top-level window with a taskbar button of its own: it is owned by
// the manager but not declared transient for it, which would hide it from the taskbar.
void TfrmClient::CreateParams()
{
    setAttribute(Qt::WA_NativeWindow);
    if (QWindow *handle = windowHandle())
        handle->setTransientParent(nullptr);
}

void TfrmClient::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (QWindow *handle = windowHandle())
        handle->setTransientParent(nullptr);
}

QString TfrmClient::ServerAddress() const
{
    if (FClientSettings.Port == 3389)
        return FClientSettings.Server;
    return QStringLiteral("%1:%2").arg(FClientSettings.Server).arg(FClientSettings.Port);
}

bool TfrmClient::ShowFailure(const QString &text, const QString &cause)
{
    QString message = text + QStringLiteral("\n\n服务器: ") + ServerAddress();
    if (!cause.isEmpty())
        message += QStringLiteral("\n原因: ") + cause;
    const QPointer<TfrmClient> self(this);
    ++openBoxes_;
    ShowMessageBox(this, message);
    if (!self)
        return false; // destroyed with its owner meanwhile
    if (--openBoxes_ > 0)
        return true;
    if (deletePending_)
        deleteLater();
    else if (timeOutPending_)
        QTimer::singleShot(0, this, [this] { Guard([&] { tmrTimeOutTimer(); }); });
    timeOutPending_ = false;
    return true;
}

void TfrmClient::CloseForm()
{
    tmrTimeOut->stop();
    close();
}

void TfrmClient::closeEvent(QCloseEvent *event)
{
    if (finished_) {
        event->accept();
        return;
    }
    Guard([&] { FormClose(); });
    event->accept();
    Finish();
}

void TfrmClient::FormClose()
{
    if (!LDisconnected && msrdpclnt1 && msrdpclnt1->Connected() > 0) {
        LDisconnected = true;
        msrdpclnt1->Disconnect();
    }
    emit finished(this);
}

// A closed window is done with: no time-out, no connection, no worker, no
// events, and the window itself goes once its event has returned.
void TfrmClient::Finish()
{
    finished_ = true;
    tmrTimeOut->stop();
    msrdpclnt1->Cancel();
    if (openBoxes_ > 0)
        deletePending_ = true; // not under a box of its own: once the last one is closed
    else
        deleteLater();
}

void TfrmClient::msrdpclnt1Connected()
{
    msrdpclnt1->setCursor(Qt::ArrowCursor);
}

void TfrmClient::msrdpclnt1Disconnected(int discReason)
{
    if (LDisconnected)
        return;
    LDisconnected = true;
    tmrTimeOut->stop();
    const QString text = DisconnectReasonText(discReason);
    if (!isVisible())
        return;
    if (!text.isEmpty() && !ShowFailure(text, msrdpclnt1->DisconnectCause()))
        return;
    CloseForm();
}

void TfrmClient::msrdpclnt1FatalError(int errorCode)
{
    Q_UNUSED(errorCode);
    if (ShowFailure(QStringLiteral("未知错误 请检查设置"), msrdpclnt1->DisconnectCause()))
        CloseForm();
}

void TfrmClient::msrdpclnt1Warning(int warningCode)
{
    ShowFailure(QStringLiteral("失败,请检查设置"), QStringLiteral("警告 %1").arg(warningCode));
}

void TfrmClient::msrdpclnt1LogonError(int lError)
{
    Q_UNUSED(lError);
}

// The server tells the user name once the logon has succeeded: that is no failure,
// so no box is shown for it and the window stays as it is.
void TfrmClient::msrdpclnt1UserNameAcquired(const QString &bstrUserName)
{
    Q_UNUSED(bstrUserName);
}

void TfrmClient::msrdpclnt1LeaveFullScreenMode()
{
    // Back to the design size near the top-left corner of the screen, once the
    // window manager has taken the window out of full screen and framed it
    // again: until then the frame reads as none, and a window placed then ends
    // up with its title bar above the screen, or is put back where it was.
    placerTicks_ = 0;
    placerSettled_ = 0;
    placed_ = false;
    placer_->start();
}

void TfrmClient::PlaceAfterFullScreen()
{
    constexpr int MaxTicks = 150;    // 3 s in all
    constexpr int SettledTicks = 25; // 0.5 s in place
    QWindow *handle = windowHandle();
    const bool lastTick = ++placerTicks_ >= MaxTicks;
    if (lastTick)
        placer_->stop();
    if (!handle || isFullScreen())
        return; // not out of full screen yet
    // No frame by the end: the platform draws none, and the window goes to the corner as it is.
    if (handle->frameMargins().isNull() && !lastTick)
        return;
    const bool inPlace = size() == QSize(FWidth_Old, FHeight_Old) && frameGeometry().topLeft() == QPoint(10, 10);
    if (!placed_ || !inPlace) {
        // The outer size noted before the settings sized the window is the
        // design's client size (the window had no frame yet), so it is given to
        // the client area and the frame comes on top, as the design had it.
        resize(FWidth_Old, height());
        resize(width(), FHeight_Old);
        move(x(), 10); // the frame's top, now that it is known
        move(10, y());
        placed_ = true;
        placerSettled_ = 0;
    } else if (++placerSettled_ >= SettledTicks) {
        placer_->stop(); // in place, and the window manager has let it be
    }
}

void TfrmClient::tmrTimeOutTimer()
{
    // While the user reads the server's certificate the attempt waits for them,
    // not for the network; the answer starts the time-out again.
    if (msrdpclnt1->IsAskingUser()) {
        tmrTimeOut->stop();
        return;
    }
    tmrTimeOut->stop();
    // A box of this window is open (a set-up error, say): the time-out comes
    // once it is closed, not inside it.
    if (openBoxes_ > 0) {
        timeOutPending_ = !finished_;
        return;
    }
    if (LDisconnected || msrdpclnt1->Connected() != 0)
        return;
    LDisconnected = true;
    // The attempt is given up at once, not after the user has read the message.
    msrdpclnt1->Cancel();
    if (ShowFailure(QStringLiteral("连接超时"),
                    QStringLiteral("服务器在 %1 秒内没有完成连接").arg(TimeOutMs / 1000)))
        CloseForm();
}

TfrmClient *OpenClientWindow(QWidget *owner, const TClientSettings &settings)
{
    auto *form = new TfrmClient(owner, settings);
    form->setWindowTitle(settings.Server + QStringLiteral(" - ") + form->windowTitle());
    form->show();
    return form;
}
