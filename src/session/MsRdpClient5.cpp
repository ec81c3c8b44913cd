#include "MsRdpClient5.h"

#include "AppError.h"
#include "DesktopSizeFollower.h"
#include "RdpClipboardBridge.h"
#include "FullScreenHint.h"
#include "MsgBox.h"
#include "RdpReconnectPanel.h"
#include "ServerAddress.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QWheelEvent>

#include <algorithm>

namespace {

constexpr int MinDesktopSide = 200;
constexpr int MaxDesktopSide = 8192;

// The largest size of the picture's proportions that fits into the area.
QSize Fitted(QSize picture, QSize area)
{
    if (picture.isEmpty() || area.isEmpty())
        return area;
    if (qint64(area.width()) * picture.height() <= qint64(area.height()) * picture.width())
        return QSize(area.width(), int(qint64(area.width()) * picture.height() / picture.width()));
    return QSize(int(qint64(area.height()) * picture.width() / picture.height()), area.height());
}

// Ctrl+Alt+Enter (or Ctrl+Alt+Pause, as on Windows) enters full screen and leaves it.
bool IsFullScreenCombination(const QKeyEvent *event)
{
    const auto mods = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
    if (mods != (Qt::ControlModifier | Qt::AltModifier))
        return false;
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Pause;
}

void WaitForWorkersAtExit()
{
    WaitForRdpWorkers(1000);
}

} // namespace

// ---- settings objects -----------------------------------------------------------

void TMsRdpClientAdvancedSettings::SetRDPPort(int port)
{
    owner_.RefuseWhileInUse("RDPPort");
    if (port < 1 || port > 65535)
        throw AppError(QStringLiteral("无效的端口: %1").arg(port));
    port_ = port;
}

void TMsRdpClientAdvancedSettings::SetClearTextPassword(const QString &password)
{
    owner_.RefuseWhileInUse("ClearTextPassword");
    password_ = password;
}

void TMsRdpClientAdvancedSettings::SetEnableAutoReconnect(bool enable)
{
    owner_.RefuseWhileInUse("EnableAutoReconnect");
    autoReconnect_ = enable;
}

void TMsRdpClientAdvancedSettings::SetKeyboardLayout(uint32_t layout)
{
    owner_.RefuseWhileInUse("KeyboardLayout");
    keyboardLayout_ = layout;
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
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    follower_ = new DesktopSizeFollower(this, [this] { return remoteSize_; });
    clipboard_ = new RdpClipboardBridge(this);
    fullScreenHint_ = new TFullScreenHint(this);
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
    update();
}

void TMsRdpClient5::SetServer(const QString &server)
{
    RefuseWhileInUse("Server");
    if (const QString problem = ServerFieldProblem(server); !problem.isEmpty())
        throw AppError(problem);
    server_ = server.trimmed();
}

void TMsRdpClient5::SetDomain(const QString &domain)
{
    RefuseWhileInUse("Domain");
    domain_ = domain;
}

void TMsRdpClient5::SetUserName(const QString &userName)
{
    RefuseWhileInUse("UserName");
    userName_ = userName;
}

void TMsRdpClient5::SetDesktopWidth(int width)
{
    RefuseWhileInUse("DesktopWidth");
    if (width < MinDesktopSide || width > MaxDesktopSide)
        throw AppError(QStringLiteral("无效的桌面宽度: %1").arg(width));
    desktopWidth_ = width;
}

void TMsRdpClient5::SetDesktopHeight(int height)
{
    RefuseWhileInUse("DesktopHeight");
    if (height < MinDesktopSide || height > MaxDesktopSide)
        throw AppError(QStringLiteral("无效的桌面高度: %1").arg(height));
    desktopHeight_ = height;
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
    return agreed > 0 ? agreed : colorDepth_;
}

void TMsRdpClient5::SetColorDepth(int bitsPerPixel)
{
    RefuseWhileInUse("ColorDepth");
    static constexpr int depths[] = {8, 15, 16, 24, 32};
    if (std::find(std::begin(depths), std::end(depths), bitsPerPixel) == std::end(depths))
        throw AppError(QStringLiteral("无效的颜色深度: %1").arg(bitsPerPixel));
    colorDepth_ = bitsPerPixel;
}

void TMsRdpClient5::SetRedirectClipboard(bool redirect)
{
    RefuseWhileInUse("RedirectClipboard");
    redirectClipboard_ = redirect;
}

void TMsRdpClient5::SetGraphicsPipeline(bool offered)
{
    RefuseWhileInUse("GraphicsPipeline");
    graphicsPipeline_ = offered;
}

void TMsRdpClient5::SetGraphicsAvc444(bool offered)
{
    RefuseWhileInUse("GraphicsAvc444");
    graphicsAvc444_ = offered;
}

void TMsRdpClient5::SetDynamicResolution(bool follow)
{
    RefuseWhileInUse("DynamicResolution");
    dynamicResolution_ = follow;
}

void TMsRdpClient5::Connect()
{
    if (started_)
        throw AppError(QStringLiteral("已经在连接"));
    if (server_.isEmpty())
        throw AppError(QStringLiteral("服务器地址为空"));
    RdpConnectParams params;
    params.Host = server_;
    params.Port = advanced_.port_;
    params.Domain = domain_;
    params.User = userName_;
    params.Password = advanced_.password_;
    params.Width = desktopWidth_;
    params.Height = desktopHeight_;
    params.ColorDepth = colorDepth_;
    params.RedirectClipboard = redirectClipboard_;
    params.GraphicsPipeline = graphicsPipeline_;
    params.GraphicsAvc444 = graphicsAvc444_;
    params.DynamicResolution = dynamicResolution_;
    params.CertificateStore = CertificateStoreFolder();
    params.Reconnect = CurrentRdpReconnectTiming();
    params.Reconnect.Enabled = advanced_.autoReconnect_;
    params.KeyboardLayout = advanced_.keyboardLayout_;

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
    connect(s, &RdpSession::FrameUpdated, this, &TMsRdpClient5::RdpFrameUpdated);
    connect(s, &RdpSession::DesktopResized, this, &TMsRdpClient5::RdpDesktopResized);
    connect(s, &RdpSession::CertificateQuestion, this, &TMsRdpClient5::RdpVerifyCertificate);
    if (redirectClipboard_)
        clipboard_->Start(s);
    follower_->Start(s, QStringLiteral("%1:%2").arg(server_).arg(advanced_.port_));
    session_->Start(params);
    // The control keeps no copy of the password once the worker has it.
    advanced_.password_.fill(QChar(0));
    advanced_.password_.clear();
    params.Password.fill(QChar(0));
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
    cancelled_ = true;
    follower_->Stop();
    clipboard_->Stop();
    ReleaseHeldKeys();
    if (grabbing_) {
        releaseKeyboard();
        grabbing_ = false;
    }
    if (session_)
        session_->Cancel();
    if (reconnectPanel_)
        reconnectPanel_->hide();
}

QSize TMsRdpClient5::RemoteDesktopSize() const
{
    if (!session_)
        return {};
    RdpFrameBuffer &frame = session_->Frame();
    std::lock_guard guard(frame.Lock);
    return frame.Image.isNull() ? QSize() : frame.Image.size();
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
    if (!session_)
        return {};
    RdpFrameBuffer &frame = session_->Frame();
    std::lock_guard guard(frame.Lock);
    return frame.Image.copy();
}

QRgb TMsRdpClient5::RemotePixel(QPoint point) const
{
    if (!session_)
        return 0;
    RdpFrameBuffer &frame = session_->Frame();
    std::lock_guard guard(frame.Lock);
    return frame.Image.valid(point) ? frame.Image.pixel(point) : 0;
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

// ---- events from the session -----------------------------------------------------------

void TMsRdpClient5::RdpConnected()
{
    remoteSize_ = RemoteDesktopSize();
    if (fullScreen_)
        EnterFullScreen();
    UpdateKeyboardGrab();
    emit OnConnected();
}

// The last picture stays, dimmed under the panel, until the session is back
// or has ended; the keys held down are let go meanwhile.
void TMsRdpClient5::RdpReconnecting(int attempt, int tries)
{
    ReleaseHeldKeys();
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
    ReleaseHeldKeys();
    UpdateKeyboardGrab();
    emit OnDisconnected(info.ServerReason);
}

void TMsRdpClient5::RdpFatalError(int errorCode, const QString &cause)
{
    disconnectCause_ = cause;
    emit OnFatalError(errorCode);
}

void TMsRdpClient5::RdpFrameUpdated()
{
    QRegion dirty;
    QSize size;
    {
        RdpFrameBuffer &frame = session_->Frame();
        std::lock_guard guard(frame.Lock);
        dirty.swap(frame.Dirty);
        frame.UpdatePending = false;
        size = frame.Image.size();
    }
    if (remoteSize_ != size) {
        remoteSize_ = size;
        update();
        return;
    }
    if (Scaled())
        update();
    else
        update(dirty);
}

void TMsRdpClient5::RdpDesktopResized(int width, int height)
{
    remoteSize_ = QSize(width, height);
    update();
}

namespace {

// What is wrong with a certificate, in a line or two; empty when nothing.
QString CertificateWarnings(const RdpCertificateQuestion &q)
{
    QString lines;
    if (q.NameMismatch)
        lines += QStringLiteral("注意: 证书上的名称 (%1) 与服务器地址 %2 不符。\n")
                     .arg(q.CommonName.isEmpty() ? QStringLiteral("无") : q.CommonName, q.Host);
    if (q.SelfSigned)
        lines += QStringLiteral("注意: 这是自签名证书,没有证书颁发机构为它担保。\n");
    return lines.isEmpty() ? lines : QStringLiteral("\n") + lines;
}

} // namespace

void TMsRdpClient5::RdpVerifyCertificate(const RdpCertificateQuestion &q)
{
    const QString server = QStringLiteral("%1:%2").arg(q.Host).arg(q.Port);
    QString text;
    QMessageBox::Icon icon;
    if (!q.Changed) {
        icon = QMessageBox::Question;
        text = QStringLiteral("第一次连接到此服务器，无法确认它的身份。请核对它的证书:\n\n"
                              "服务器: %1\n主题: %2\n颁发者: %3\n指纹: %4\n%5\n"
                              "是否信任此证书并记住它?")
                   .arg(server, q.Subject, q.Issuer, q.Fingerprint, CertificateWarnings(q));
    } else {
        icon = QMessageBox::Warning;
        text = QStringLiteral("警告: 此服务器的证书已更改! 可能有人在冒充此服务器。\n\n"
                              "服务器: %1\n新证书主题: %2\n新证书颁发者: %3\n新证书指纹: %4\n"
                              "原证书主题: %5\n原证书颁发者: %6\n原证书指纹: %7\n%8\n"
                              "除非您确知此服务器的证书已被更换，否则请选择“否”。"
                              "是否接受新证书并记住它?")
                   .arg(server, q.Subject, q.Issuer, q.Fingerprint, q.OldSubject, q.OldIssuer, q.OldFingerprint,
                        CertificateWarnings(q));
    }
    // The question runs a modal loop; it is asked from the application object,
    // not from this control's own event, so that the window may go meanwhile (the
    // program ends) without the loop returning into a control that is gone. The
    // box stands on its own for the same reason.
    askingUser_ = true;
    emit CertificateAsked();
    QPointer<TMsRdpClient5> alive(this);
    QMetaObject::invokeMethod(
        qApp,
        [alive, text, icon] {
            const bool ask = alive && !alive->cancelled_;
            const auto answer = ask ? ShowMessageBox(nullptr, text, icon, QMessageBox::Yes | QMessageBox::No)
                                    : QMessageBox::No;
            if (!alive)
                return;
            alive->askingUser_ = false;
            const bool trusted = !alive->cancelled_ && answer == QMessageBox::Yes;
            if (alive->session_)
                alive->session_->AnswerCertificate(trusted ? RdpCertificateAnswer::TrustAndRemember
                                                           : RdpCertificateAnswer::Reject);
            emit alive->CertificateAnswered(trusted);
        },
        Qt::QueuedConnection);
}

// ---- drawing ---------------------------------------------------------------------------

bool TMsRdpClient5::Scaled() const
{
    return remoteSize_.isValid() && remoteSize_ != size();
}

void TMsRdpClient5::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    if (session_) {
        RdpFrameBuffer &frame = session_->Frame();
        std::lock_guard guard(frame.Lock);
        if (!frame.Image.isNull()) {
            if (frame.Image.size() == size()) {
                for (const QRect &r : event->region())
                    painter.drawImage(r, frame.Image, r);
            } else {
                painter.fillRect(rect(), Qt::black);
                const QSize fitted = Fitted(frame.Image.size(), size());
                painter.drawImage(QRect(QPoint(0, 0), fitted), frame.Image);
            }
            return;
        }
    }
    painter.fillRect(rect(), QColor(0, 0, 0));
    if (!cancelled_ && started_) {
        painter.setPen(Qt::white);
        painter.drawText(rect(), Qt::AlignCenter, connectingText_);
    }
}

// ---- keyboard ------------------------------------------------------------------------------

bool TMsRdpClient5::event(QEvent *event)
{
    // While connected every key belongs to the remote computer, shortcuts included.
    if (event->type() == QEvent::ShortcutOverride && Connected()) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

bool TMsRdpClient5::focusNextPrevChild(bool next)
{
    if (Connected())
        return false; // Tab goes to the remote computer
    return QWidget::focusNextPrevChild(next);
}

void TMsRdpClient5::SendKey(QKeyEvent *event, bool down)
{
    if (!session_ || cancelled_ || !Connected())
        return;
    if (event->key() == Qt::Key_Pause && !(event->modifiers() & Qt::ControlModifier)) {
        if (down)
            session_->SendPause();
        return;
    }
    const uint32_t code = session_->ScanCode(event);
    if (code == 0) {
        // A character with no key of its own goes as the character itself.
        if (down)
            for (QChar unit : event->text())
                if (unit.isPrint()) {
                    session_->SendUnicode(true, unit.unicode());
                    session_->SendUnicode(false, unit.unicode());
                }
        return;
    }
    if (down) {
        if (!heldKeys_.contains(code))
            heldKeys_.append(code);
    } else {
        heldKeys_.removeAll(code);
    }
    session_->SendKey(down, code);
}

void TMsRdpClient5::keyPressEvent(QKeyEvent *event)
{
    if (IsFullScreenCombination(event) && (fullScreen_ || Connected() > 0)) {
        ReleaseHeldKeys();
        if (fullScreen_) {
            LeaveFullScreen();
        } else {
            fullScreen_ = true;
            EnterFullScreen();
        }
        return;
    }
    SendKey(event, true);
}

void TMsRdpClient5::keyReleaseEvent(QKeyEvent *event)
{
    SendKey(event, false);
}

void TMsRdpClient5::ReleaseHeldKeys()
{
    if (session_ && !cancelled_)
        for (uint32_t code : std::as_const(heldKeys_))
            session_->SendKey(false, code);
    heldKeys_.clear();
}

void TMsRdpClient5::UpdateKeyboardGrab()
{
    const bool want = !cancelled_ && Connected() && hasFocus() && isVisible()
        && (secured_.KeyboardHookMode() == 1 || (secured_.KeyboardHookMode() == 2 && fullScreen_));
    if (want == grabbing_)
        return;
    grabbing_ = want;
    if (want && QGuiApplication::platformName() != QLatin1String("offscreen"))
        grabKeyboard();
    else
        releaseKeyboard();
}

void TMsRdpClient5::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    UpdateKeyboardGrab();
}

void TMsRdpClient5::focusOutEvent(QFocusEvent *event)
{
    ReleaseHeldKeys();
    QWidget::focusOutEvent(event);
    UpdateKeyboardGrab();
}

void TMsRdpClient5::hideEvent(QHideEvent *event)
{
    ReleaseHeldKeys();
    QWidget::hideEvent(event);
    UpdateKeyboardGrab();
}

// ---- mouse ---------------------------------------------------------------------------------

QPoint TMsRdpClient5::RemotePoint(const QPointF &local) const
{
    if (!remoteSize_.isValid())
        return local.toPoint();
    double x = local.x();
    double y = local.y();
    if (Scaled()) {
        const QSize fitted = Fitted(remoteSize_, size());
        x = x * remoteSize_.width() / std::max(1, fitted.width());
        y = y * remoteSize_.height() / std::max(1, fitted.height());
    }
    return QPoint(std::clamp(int(x), 0, remoteSize_.width() - 1), std::clamp(int(y), 0, remoteSize_.height() - 1));
}

void TMsRdpClient5::MovePointer(QPoint p)
{
    if (p == lastPointer_)
        return;
    lastPointer_ = p;
    session_->SendMouse(RdpMouse::Move, p.x(), p.y());
}

void TMsRdpClient5::SendMouseButton(QMouseEvent *event, bool down)
{
    if (!session_ || cancelled_ || !Connected())
        return;
    const QPoint p = RemotePoint(event->position());
    MovePointer(p);
    uint16_t flags = 0;
    switch (event->button()) {
    case Qt::LeftButton: flags = RdpMouse::Button1; break;
    case Qt::RightButton: flags = RdpMouse::Button2; break;
    case Qt::MiddleButton: flags = RdpMouse::Button3; break;
    case Qt::BackButton:
        session_->SendExtendedMouse(uint16_t(RdpMouse::XButton1 | (down ? RdpMouse::XDown : 0)), p.x(), p.y());
        return;
    case Qt::ForwardButton:
        session_->SendExtendedMouse(uint16_t(RdpMouse::XButton2 | (down ? RdpMouse::XDown : 0)), p.x(), p.y());
        return;
    default:
        return;
    }
    session_->SendMouse(uint16_t(flags | (down ? RdpMouse::Down : 0)), p.x(), p.y());
}

void TMsRdpClient5::mousePressEvent(QMouseEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    SendMouseButton(event, true);
}

void TMsRdpClient5::mouseReleaseEvent(QMouseEvent *event)
{
    SendMouseButton(event, false);
}

void TMsRdpClient5::mouseDoubleClickEvent(QMouseEvent *event)
{
    SendMouseButton(event, true);
}

void TMsRdpClient5::mouseMoveEvent(QMouseEvent *event)
{
    if (!session_ || cancelled_ || !Connected())
        return;
    MovePointer(RemotePoint(event->position()));
}

void TMsRdpClient5::wheelEvent(QWheelEvent *event)
{
    if (!session_ || cancelled_ || !Connected())
        return;
    const QPoint p = RemotePoint(event->position());
    MovePointer(p);
    const auto send = [&](int delta, uint16_t kind) {
        // A wheel step of zero is never sent; the rest fits nine signed bits.
        delta = std::clamp(delta, -256, 255);
        if (delta == 0)
            return;
        uint16_t flags = kind;
        if (delta < 0)
            flags |= RdpMouse::WheelNegative | uint16_t(delta & 0xFF);
        else
            flags |= uint16_t(delta);
        session_->SendMouse(flags, p.x(), p.y());
    };
    send(event->angleDelta().y(), RdpMouse::Wheel);
    send(event->angleDelta().x(), RdpMouse::HWheel);
    event->accept();
}

// ---- full screen ------------------------------------------------------------------------------

void TMsRdpClient5::EnterFullScreen()
{
    follower_->EnteringFullScreen();
    QWidget *top = window();
    top->setWindowState(top->windowState() | Qt::WindowFullScreen);
    UpdateKeyboardGrab();
    fullScreenHint_->Popup();
}

void TMsRdpClient5::LeaveFullScreen()
{
    if (!fullScreen_)
        return;
    fullScreen_ = false;
    QWidget *top = window();
    top->setWindowState(top->windowState() & ~Qt::WindowFullScreen);
    fullScreenHint_->Dismiss();
    follower_->LeftFullScreen();
    UpdateKeyboardGrab();
    emit OnLeaveFullScreenMode();
}
