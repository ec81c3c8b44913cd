#include "DesktopSizeFollower.h"

#include "RdpDisplayControl.h"
#include "RdpSession.h"

#include <QEvent>
#include <QWidget>

DesktopSizeFollower::DesktopSizeFollower(QWidget *view, std::function<QSize()> remoteSize)
    : QObject(view), view_(view), remoteSize_(std::move(remoteSize))
{
    settle_.setSingleShot(true);
    settle_.setInterval(SettleMs);
    connect(&settle_, &QTimer::timeout, this, &DesktopSizeFollower::Settled);
    view_->installEventFilter(this);
}

void DesktopSizeFollower::Start(RdpSession *session)
{
    session_ = session;
    connect(session, &RdpSession::DisplayControlReady, this, [this] { ready_ = true; });
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
    const QSize wanted = RdpDisplayControl::Acceptable(target_.isValid() ? target_ : view_->size());
    // Asked for already, or the desktop has that size and nothing else was asked.
    if (wanted == lastRequest_ || (wanted == remoteSize_() && !lastRequest_.isValid()))
        return;
    ++requests_;
    lastRequest_ = wanted;
    session_->RequestDesktopSize(wanted);
}
