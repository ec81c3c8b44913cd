#include "MsRdpClient5.h"

#include "AppError.h"
#include "DesktopSizeFollower.h"
#include "FullScreenHint.h"
#include "RdpCertificatePrompt.h"
#include "RdpClipboardBridge.h"
#include "RdpReconnectPanel.h"
#include "RdpView.h"
#include "ServerAddress.h"

#include <QCoreApplication>
#include <QResizeEvent>

#include <algorithm>

namespace {

constexpr int MinDesktopSide = 200;
constexpr int MaxDesktopSide = 8192;

void WaitForWorkersAtExit()
{
    WaitForRdpWorkers(1000);
}

bool IsInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
        return true;
    default:
        return false;
    }
}

} // namespace

// ---- settings objects -----------------------------------------------------------

int TMsRdpClientAdvancedSettings::RDPPort() const
{
    return owner_.params_.Port;
}

void TMsRdpClientAdvancedSettings::SetRDPPort(int port)
{
    owner_.RefuseWhileInUse("RDPPort");
    if (port < 1 || port > 65535)
        throw AppError(QStringLiteral("无效的端口: %1").arg(port));
    owner_.params_.Port = port;
}

void TMsRdpClientAdvancedSettings::SetClearTextPassword(const QString &password)
{
    owner_.RefuseWhileInUse("ClearTextPassword");
    owner_.params_.Password = password;
}

bool TMsRdpClientAdvancedSettings::EnableAutoReconnect() const
{
    return owner_.params_.Reconnect.Enabled;
}

void TMsRdpClientAdvancedSettings::SetEnableAutoReconnect(bool enable)
{
    owner_.RefuseWhileInUse("EnableAutoReconnect");
    owner_.params_.Reconnect.Enabled = enable;
}

uint32_t TMsRdpClientAdvancedSettings::KeyboardLayout() const
{
    return owner_.params_.KeyboardLayout;
}

void TMsRdpClientAdvancedSettings::SetKeyboardLayout(uint32_t layout)
{
    owner_.RefuseWhileInUse("KeyboardLayout");
    owner_.params_.KeyboardLayout = layout;
}

void TMsRdpClientSecuredSettings::SetKeyboardHookMode(int mode)
{
    if (mode < 0 || mode > 2)
        throw AppError(QStringLiteral("无效的键盘模式: %1").arg(mode));
    mode_ = mode;
    owner_.UpdateKeyboardGrab();
}

// ---- the control ------------------------------------------------------------------

TMsRdpClient5::TMsRdpClient5(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The view lies under everything else the control shows.
    view_ = new RdpView(this);
    setFocusProxy(view_);
    connect(view_, &RdpView::FullScreenKey, this, &TMsRdpClient5::ToggleFullScreen);
    follower_ = new DesktopSizeFollower(this, [this] { return view_->RemoteSize(); });
    clipboard_ = new RdpClipboardBridge(this);
    certificatePrompt_ = new RdpCertificatePrompt(this);
    connect(certificatePrompt_, &RdpCertificatePrompt::Answered, this, &TMsRdpClient5::CertificateDecided);
}

TMsRdpClient5::~TMsRdpClient5()
{
    // Cancels the worker and lets it go; it no longer reports to us.
    session_.reset();
}

void TMsRdpClient5::RefuseWhileInUse(const char *what) const
{
    if (started_)
        throw AppError(QStringLiteral("连接开始后不能更改 %1").arg(QLatin1String(what)));
}

void TMsRdpClient5::SetConnectingText(const QString &text)
{
    connectingText_ = text;
    view_->SetConnectingText(text);
}

void TMsRdpClient5::SetServer(const QString &server)
{
    RefuseWhileInUse("Server");
    if (const QString problem = ServerFieldProblem(server); !problem.isEmpty())
        throw AppError(problem);
    params_.Host = server.trimmed();
}

void TMsRdpClient5::SetDomain(const QString &domain)
{
    RefuseWhileInUse("Domain");
    params_.Domain = domain;
}

void TMsRdpClient5::SetUserName(const QString &userName)
{
    RefuseWhileInUse("UserName");
    params_.User = userName;
}

void TMsRdpClient5::SetDesktopWidth(int width)
{
    RefuseWhileInUse("DesktopWidth");
    if (width < MinDesktopSide || width > MaxDesktopSide)
        throw AppError(QStringLiteral("无效的桌面宽度: %1").arg(width));
    params_.Width = width;
}

void TMsRdpClient5::SetDesktopHeight(int height)
{
    RefuseWhileInUse("DesktopHeight");
    if (height < MinDesktopSide || height > MaxDesktopSide)
        throw AppError(QStringLiteral("无效的桌面高度: %1").arg(height));
    params_.Height = height;
}

void TMsRdpClient5::SetFullScreen(bool fullScreen)
{
    if (fullScreen == fullScreen_)
        return;
    if (fullScreen) {
        fullScreen_ = true;
        if (Connected())
            EnterFullScreen();
    } else {
        LeaveFullScreen();
    }
}

int TMsRdpClient5::ColorDepth() const
{
    const int agreed = session_ ? session_->ColorDepth() : 0;
    return agreed > 0 ? agreed : params_.ColorDepth;
}

void TMsRdpClient5::SetColorDepth(int bitsPerPixel)
{
    RefuseWhileInUse("ColorDepth");
    static constexpr int depths[] = {8, 15, 16, 24, 32};
    if (std::find(std::begin(depths), std::end(depths), bitsPerPixel) == std::end(depths))
        throw AppError(QStringLiteral("无效的颜色深度: %1").arg(bitsPerPixel));
    params_.ColorDepth = bitsPerPixel;
}

void TMsRdpClient5::SetRedirectClipboard(bool redirect)
{
    RefuseWhileInUse("RedirectClipboard");
    params_.RedirectClipboard = redirect;
}

void TMsRdpClient5::SetGraphicsPipeline(bool offered)
{
    RefuseWhileInUse("GraphicsPipeline");
    params_.GraphicsPipeline = offered;
}

void TMsRdpClient5::SetGraphicsAvc444(bool offered)
{
    RefuseWhileInUse("GraphicsAvc444");
    params_.GraphicsAvc444 = offered;
}

void TMsRdpClient5::SetDynamicResolution(bool follow)
{
    RefuseWhileInUse("DynamicResolution");
    params_.DynamicResolution = follow;
}

void TMsRdpClient5::Connect()
{
    if (started_)
        throw AppError(QStringLiteral("已经在连接"));
    if (params_.Host.isEmpty())
        throw AppError(QStringLiteral("服务器地址为空"));
    params_.CertificateStore = CertificateStoreFolder();
    const bool autoReconnect = params_.Reconnect.Enabled;
    params_.Reconnect = CurrentRdpReconnectTiming();
    params_.Reconnect.Enabled = autoReconnect;

    static bool exitHookInstalled = false;
    if (!exitHookInstalled) {
        qAddPostRoutine(WaitForWorkersAtExit);
        exitHookInstalled = true;
    }
    started_ = true;
    session_ = std::make_unique<RdpSession>();
    RdpSession *s = session_.get();
    connect(s, &RdpSession::SessionConnected, this, &TMsRdpClient5::RdpConnected);
    connect(s, &RdpSession::SessionEnded, this, &TMsRdpClient5::RdpDisconnected);
    connect(s, &RdpSession::ReconnectAttempt, this, &TMsRdpClient5::RdpReconnecting);
    connect(s, &RdpSession::Reconnected, this, &TMsRdpClient5::RdpReconnected);
    connect(s, &RdpSession::FatalError, this, &TMsRdpClient5::RdpFatalError);
    connect(s, &RdpSession::LogonError, this, &TMsRdpClient5::OnLogonError);
    connect(s, &RdpSession::UserNameAcquired, this, &TMsRdpClient5::OnUserNameAcquired);
    connect(s, &RdpSession::FrameUpdated, view_, &RdpView::FrameUpdated);
    connect(s, &RdpSession::DesktopResized, view_, &RdpView::DesktopResized);
    connect(s, &RdpSession::CertificateQuestion, this, &TMsRdpClient5::RdpVerifyCertificate);
    view_->SetSession(s);
    view_->SetConnecting(true);
    if (params_.RedirectClipboard)
        clipboard_->Start(s);
    follower_->Start(s, QStringLiteral("%1:%2").arg(params_.Host).arg(params_.Port));
    session_->Start(params_);
    // The control keeps no copy of the password once the worker has it.
    params_.Password.fill(QChar(0));
    params_.Password.clear();
}

short TMsRdpClient5::Connected() const
{
    return short(IsReconnecting() ? 1 : session_ && !cancelled_ ? session_->Connected()
                                                                : 0);
}

bool TMsRdpClient5::IsReconnecting() const
{
    return session_ && !cancelled_ && session_->Reconnecting();
}

void TMsRdpClient5::StopAutoReconnect()
{
    if (session_ && !cancelled_)
        session_->GiveUpReconnect();
}

void TMsRdpClient5::Disconnect()
{
    ++disconnectCalls_;
    if (session_ && !cancelled_)
        session_->Disconnect();
}

void TMsRdpClient5::Cancel()
{
    if (cancelled_)
        return;
    follower_->Stop();
    clipboard_->Stop();
    certificatePrompt_->Withdraw();
    cancelled_ = true;
    UpdateLive();
    view_->SetConnecting(false);
    if (session_)
        session_->Cancel();
    if (reconnectPanel_)
        reconnectPanel_->hide();
}

QSize TMsRdpClient5::RemoteDesktopSize() const
{
    QSize size;
    if (session_)
        session_->ReadFrame([&](const QImage &image) { size = image.size(); });
    return size;
}

bool TMsRdpClient5::GraphicsPipelineOpen() const
{
    return session_ && session_->GraphicsPipelineOpen();
}

QStringList TMsRdpClient5::GraphicsCodecs() const
{
    return session_ ? session_->GraphicsCodecs() : QStringList();
}

bool TMsRdpClient5::DynamicResolutionReady() const
{
    return follower_->Ready();
}

int TMsRdpClient5::DesktopSizeRequests() const
{
    return follower_->Requests();
}

int TMsRdpClient5::RemoteClipboardFetches() const
{
    return session_ ? session_->RemoteClipboardFetches() : 0;
}

QImage TMsRdpClient5::RemoteFrame() const
{
    QImage copy;
    if (session_)
        session_->ReadFrame([&](const QImage &image) { copy = image.copy(); });
    return copy;
}

QRgb TMsRdpClient5::RemotePixel(QPoint point) const
{
    QRgb pixel = 0;
    if (session_)
        session_->ReadFrame([&](const QImage &image) {
            if (image.valid(point))
                pixel = image.pixel(point);
        });
    return pixel;
}

void TMsRdpClient5::SetCertificateStoreFolder(const QString &folder)
{
    SetCertificateStore(folder);
}

QString TMsRdpClient5::CertificateStoreFolder()
{
    return CertificateStore();
}

void TMsRdpClient5::SetReconnectTiming(const RdpReconnectTiming &timing)
{
    SetRdpReconnectTiming(timing);
}

// ---- input ---------------------------------------------------------------------------

bool TMsRdpClient5::event(QEvent *event)
{
    // While connected every key belongs to the remote computer, shortcuts included.
    if (event->type() == QEvent::ShortcutOverride && view_->Live()) {
        event->accept();
        return true;
    }
    // Input sent to the control itself is the view's (which passes none back).
    if (IsInput(event->type()))
        return QCoreApplication::sendEvent(view_, event);
    return QWidget::event(event);
}

void TMsRdpClient5::resizeEvent(QResizeEvent *event)
{
    view_->setGeometry(QRect(QPoint(0, 0), event->size()));
    QWidget::resizeEvent(event);
}

void TMsRdpClient5::UpdateLive()
{
    view_->SetLive(!cancelled_ && Connected() > 0);
    UpdateKeyboardGrab();
}

void TMsRdpClient5::UpdateKeyboardGrab()
{
    const int mode = secured_.KeyboardHookMode();
    view_->SetKeyboardGrab(!cancelled_ && Connected() && (mode == 1 || (mode == 2 && fullScreen_)));
}

// ---- events from the session -----------------------------------------------------------

void TMsRdpClient5::RdpConnected()
{
    if (fullScreen_)
        EnterFullScreen();
    UpdateLive();
    emit OnConnected();
}

// The last picture stays, dimmed under the panel, until the session is back
// or has ended; the keys held down are let go meanwhile.
void TMsRdpClient5::RdpReconnecting(int attempt, int tries)
{
    view_->ReleaseHeldKeys();
    if (!reconnectPanel_) {
        reconnectPanel_ = new RdpReconnectPanel(this);
        connect(reconnectPanel_, &RdpReconnectPanel::GiveUp, this, &TMsRdpClient5::StopAutoReconnect);
    }
    reconnectPanel_->ShowAttempt(attempt, tries);
    emit OnAutoReconnecting(0, attempt, tries);
}

void TMsRdpClient5::RdpReconnected()
{
    if (reconnectPanel_)
        reconnectPanel_->hide();
    emit OnAutoReconnected();
}

void TMsRdpClient5::RdpDisconnected(const RdpDisconnectInfo &info)
{
    if (reconnectPanel_)
        reconnectPanel_->hide();
    disconnectCause_ = info.Cause;
    follower_->Stop();
    UpdateLive();
    emit OnDisconnected(info.ServerReason);
}

void TMsRdpClient5::RdpFatalError(int errorCode, const QString &cause)
{
    disconnectCause_ = cause;
    emit OnFatalError(errorCode);
}

void TMsRdpClient5::RdpVerifyCertificate(const RdpCertificateQuestion &question)
{
    askingUser_ = true;
    emit CertificateAsked();
    certificatePrompt_->Ask(question);
}

void TMsRdpClient5::CertificateDecided(bool trusted)
{
    askingUser_ = false;
    trusted = trusted && !cancelled_;
    if (session_)
        session_->AnswerCertificate(trusted ? RdpCertificateAnswer::TrustAndRemember : RdpCertificateAnswer::Reject);
    emit CertificateAnswered(trusted);
}

// ---- full screen ------------------------------------------------------------------------------

void TMsRdpClient5::ToggleFullScreen()
{
    if (fullScreen_) {
        LeaveFullScreen();
    } else if (Connected() > 0) {
        fullScreen_ = true;
        EnterFullScreen();
    }
}

void TMsRdpClient5::EnterFullScreen()
{
    follower_->EnteringFullScreen();
    QWidget *top = window();
    top->setWindowState(top->windowState() | Qt::WindowFullScreen);
    UpdateKeyboardGrab();
    // Made at its first use: a label's text and style sheet load fonts, which
    // a session that never goes full screen does without.
    if (!fullScreenHint_)
        fullScreenHint_ = new TFullScreenHint(this);
    fullScreenHint_->Popup();
}

void TMsRdpClient5::LeaveFullScreen()
{
    if (!fullScreen_)
        return;
    fullScreen_ = false;
    QWidget *top = window();
    top->setWindowState(top->windowState() & ~Qt::WindowFullScreen);
    if (fullScreenHint_)
        fullScreenHint_->Dismiss();
    follower_->LeftFullScreen();
    UpdateKeyboardGrab();
    emit OnLeaveFullScreenMode();
}
