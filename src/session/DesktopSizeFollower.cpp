#include "DesktopSizeFollower.h"

#include "RdpDisplayControl.h"
#include "RdpSession.h"

#include <QEvent>
#include <QSet>
#include <QWidget>

namespace {

// The servers that cannot change the desktop's size while connected; GUI thread only.
QSet<QString> &ServersResizingByReconnect()
{
    static QSet<QString> servers;
    return servers;
}

} // namespace

bool DesktopSizeFollower::ResizesByReconnect(const QString &server)
{
    return ServersResizingByReconnect().contains(server);
}

DesktopSizeFollower::DesktopSizeFollower(QWidget *view, std::function<QSize()> remoteSize)
    : QObject(view), view_(view), remoteSize_(std::move(remoteSize))
{
    settle_.setSingleShot(true);
    settle_.setInterval(SettleMs);
    connect(&settle_, &QTimer::timeout, this, &DesktopSizeFollower::Settled);
    view_->installEventFilter(this);
}

void DesktopSizeFollower::Start(RdpSession *session, const QString &server)
{
    session_ = session;
    server_ = server;
    connect(session, &RdpSession::DisplayControlReady, this, [this] { ready_ = true; });
    connect(session, &RdpSession::DisplayControlFailed, this,
            [this] { ServersResizingByReconnect().insert(server_); });
}

void DesktopSizeFollower::Stop()
{
    ready_ = false;
    settle_.stop();
    session_ = nullptr;
}

void DesktopSizeFollower::EnteringFullScreen()
{
    beforeFullScreen_ = remoteSize_();
    target_ = QSize();
    leftFullScreen_.invalidate();
}

void DesktopSizeFollower::LeftFullScreen()
{
    if (!ready_ || !beforeFullScreen_.isValid())
        return;
    target_ = beforeFullScreen_;
    leftFullScreen_.start();
    settle_.start();
}

bool DesktopSizeFollower::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == view_ && event->type() == QEvent::Resize && ready_) {
        // The window puts itself back after full screen; the user's own resizes
        // are followed again after that.
        if (target_.isValid() && (!leftFullScreen_.isValid() || leftFullScreen_.elapsed() > LeaveFullScreenMs))
            target_ = QSize();
        settle_.start();
    }
    return QObject::eventFilter(watched, event);
}

void DesktopSizeFollower::Settled()
{
    if (!ready_ || !session_)
        return;
    // A session being taken up again hears nothing: asked once it is back.
    if (session_->Reconnecting()) {
        settle_.start();
        return;
    }
    const QSize wanted = RdpDisplayControl::Acceptable(target_.isValid() ? target_ : view_->size());
    // Asked for already, or the desktop has that size and nothing else was asked.
    if (wanted == lastRequest_ || (wanted == remoteSize_() && !lastRequest_.isValid()))
        return;
    ++requests_;
    lastRequest_ = wanted;
    if (ResizesByReconnect(server_))
        session_->ReconnectAtDesktopSize(wanted);
    else
        session_->RequestDesktopSize(wanted);
}
