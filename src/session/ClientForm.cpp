#include "ClientForm.h"

#include "AppError.h"
#include "DisconnectReasons.h"
#include "MsgBox.h"

#include <QCloseEvent>
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

    owner_ = dynamic_cast<TClientOwner *>(AOwner);
    CreateParams();

    try {
        SetUp();
    } catch (const AppError &error) {
        ShowFailure(error.message(), QString());
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

void TfrmClient::ShowFailure(const QString &text, const QString &cause)
{
    QString message = text + QStringLiteral("\n\n服务器: ") + ServerAddress();
    if (!cause.isEmpty())
        message += QStringLiteral("\n原因: ") + cause;
    ShowMessageBox(this, message);
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
    if (owner_)
        owner_->RemoveOpenClnt(this);
}

// A closed window is done with: no time-out, no connection, no worker, no
// events, and the window itself goes once its event has returned.
void TfrmClient::Finish()
{
    finished_ = true;
    tmrTimeOut->stop();
    msrdpclnt1->Cancel();
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
    if (!text.isEmpty())
        ShowFailure(text, msrdpclnt1->DisconnectCause());
    CloseForm();
}

void TfrmClient::msrdpclnt1FatalError(int errorCode)
{
    Q_UNUSED(errorCode);
    ShowFailure(QStringLiteral("未知错误 请检查设置"), msrdpclnt1->DisconnectCause());
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
    // Back to the design size near the top-left corner of the screen. The outer
    // size noted before the settings sized the window is the design's client size
    // (the window had no frame yet), so it is given to the client area and the
    // frame comes on top, as the design had it.
    resize(FWidth_Old, height());
    resize(width(), FHeight_Old);
    move(x(), 10);
    move(10, y());
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
    if (LDisconnected || msrdpclnt1->Connected() != 0)
        return;
    LDisconnected = true;
    // The attempt is given up at once, not after the user has read the message.
    msrdpclnt1->Cancel();
    ShowFailure(QStringLiteral("连接超时"),
                QStringLiteral("服务器在 %1 秒内没有完成连接").arg(TimeOutMs / 1000));
    CloseForm();
}

TfrmClient *OpenClientWindow(QWidget *owner, const TClientSettings &settings)
{
    auto *form = new TfrmClient(owner, settings);
    form->setWindowTitle(settings.Server + QStringLiteral(" - ") + form->windowTitle());
    form->show();
    return form;
}
