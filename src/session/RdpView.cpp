#include "RdpView.h"

#include "RdpPresenter.h"
#include "RdpSession.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace {

// The largest size of the picture's proportions that fits into the area.
QSize Fitted(QSize picture, QSize area)
{
    if (picture.isEmpty() || area.isEmpty())
        return area;
    if (qint64(area.width()) * picture.height() <= qint64(area.height()) * picture.width())
        return QSize(area.width(), int(qint64(area.width()) * picture.height() / picture.width()));
    return QSize(int(qint64(area.height()) * picture.width() / picture.height()), area.height());
}

bool IsFullScreenCombination(const QKeyEvent *event)
{
    const auto mods = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
    if (mods != (Qt::ControlModifier | Qt::AltModifier))
        return false;
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Pause;
}

} // namespace

RdpView::RdpView(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    // Every pixel is painted each time, from a picture that needs no conversion.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    // The mouse and the keys are the remote computer's: nothing goes on to the
    // widgets around (the keys are accepted below).
    setAttribute(Qt::WA_NoMousePropagation);
}

RdpView::~RdpView() = default;

void RdpView::SetSession(RdpSession *session)
{
    session_ = session;
    QPointer<RdpSession> from(session);
    SetPictureSource([from](const std::function<void(const QImage &, int)> &read) {
        if (from)
            from->ReadFrameWithSegment(read);
        else
            read(QImage(), -1);
    });
}

void RdpView::SetPictureSource(PictureSource source)
{
    picture_ = std::move(source);
    update();
}

void RdpView::SetConnectingText(const QString &text)
{
    connectingText_ = text;
    update();
}

void RdpView::SetConnecting(bool connecting)
{
    connecting_ = connecting;
    update();
}

void RdpView::SetLive(bool live)
{
    live_ = live;
    if (!live)
        heldKeys_.clear(); // nothing to let go of on a connection that is gone
}

bool RdpView::Live() const
{
    return live_;
}

void RdpView::SetKeyboardGrab(bool wanted)
{
    grabWanted_ = wanted;
    UpdateGrab();
}

void RdpView::UpdateGrab()
{
    const bool want = grabWanted_ && hasFocus() && isVisible();
    if (want == grabbing_)
        return;
    grabbing_ = want;
    if (want && QGuiApplication::platformName() != QLatin1String("offscreen"))
        grabKeyboard();
    else
        releaseKeyboard();
}

// ---- the picture ---------------------------------------------------------------------

bool RdpView::Scaled() const
{
    return remoteSize_.isValid() && remoteSize_ != size();
}

QRect RdpView::PictureArea() const
{
    return QRect(QPoint(0, 0), Scaled() ? Fitted(remoteSize_, size()) : size());
}

QRect RdpView::ViewRect(const QRect &remote) const
{
    if (!Scaled())
        return remote;
    const QRect area = PictureArea();
    const double sx = double(area.width()) / remoteSize_.width();
    const double sy = double(area.height()) / remoteSize_.height();
    // A pixel more on each side: scaling spreads a remote pixel over its neighbours.
    const int left = int(std::floor(remote.left() * sx)) - 1;
    const int top = int(std::floor(remote.top() * sy)) - 1;
    const int right = int(std::ceil((remote.right() + 1) * sx)) + 1;
    const int bottom = int(std::ceil((remote.bottom() + 1) * sy)) + 1;
    return QRect(QPoint(left, top), QPoint(right, bottom)).intersected(area);
}

void RdpView::FrameUpdated(const QRegion &changed, QSize size)
{
    const bool newSize = size != remoteSize_;
    remoteSize_ = size;
    if (!Scaled()) {
        const QRegion region = newSize ? QRegion(rect()) : changed;
        update(region - Present(region));
        return;
    }
    presented_ = false;
    if (newSize) {
        update();
        return;
    }
    QRegion region;
    for (const QRect &r : changed)
        region += ViewRect(r);
    update(region);
}

void RdpView::DesktopResized(int width, int height)
{
    remoteSize_ = QSize(width, height);
    update();
}

QRegion RdpView::Present(const QRegion &parts)
{
    presented_ = false;
    if (!presenter_ || !picture_ || !isVisible())
        return {};
    const QRegion uncovered = parts & Uncovered();
    if (uncovered.isEmpty())
        return {};
    picture_([&](const QImage &image, int segment) {
        presented_ = image.size() == size() && presenter_->Present(image, segment, uncovered);
    });
    return presented_ ? uncovered : QRegion();
}

void RdpView::PresentAll()
{
    // The toolkit has just put its own copy of the view there, which the
    // picture put straight on the window has long left behind.
    if (presenter_ && watchedWindow_ && watchedWindow_->isExposed() && !Scaled() && remoteSize_.isValid())
        update(QRegion(rect()) - Present(rect()));
}

QRegion RdpView::Uncovered() const
{
    // The widgets laid over the picture (the reconnect panel, hints, prompts)
    // are painted by the toolkit, with the picture beneath them.
    QRegion region = visibleRegion();
    for (const QObject *child : children())
        if (const auto *w = qobject_cast<const QWidget *>(child); w && !w->isWindow() && w->isVisible())
            region -= w->geometry();
    for (const QWidget *w = this; !w->isWindow() && w->parentWidget(); w = w->parentWidget()) {
        const QWidget *parent = w->parentWidget();
        const QObjectList &siblings = parent->children(); // in stacking order, the topmost last
        for (qsizetype i = siblings.indexOf(const_cast<QWidget *>(w)) + 1; i < siblings.size(); ++i)
            if (const auto *s = qobject_cast<const QWidget *>(siblings.at(i)); s && !s->isWindow() && s->isVisible())
                region -= QRect(mapFrom(parent, s->pos()), s->size());
    }
    return region;
}

// Uncovering the window makes the toolkit put back its own copy of the view.
void RdpView::WatchWindow()
{
    QWindow *current = window()->windowHandle();
    if (current == watchedWindow_)
        return;
    if (watchedWindow_)
        watchedWindow_->removeEventFilter(this);
    watchedWindow_ = current;
    if (current)
        current->installEventFilter(this);
}

bool RdpView::eventFilter(QObject *watched, QEvent *event)
{
    // After the toolkit has handled the exposure: its copy goes first.
    if (watched == watchedWindow_ && event->type() == QEvent::Expose && presenter_)
        QMetaObject::invokeMethod(this, &RdpView::PresentAll, Qt::QueuedConnection);
    return QWidget::eventFilter(watched, event);
}

void RdpView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    bool shown = false;
    if (picture_) {
        picture_([&](const QImage &image, int) {
            if (image.isNull())
                return;
            shown = true;
            if (image.size() == size()) {
                for (const QRect &r : event->region())
                    painter.drawImage(r.topLeft(), image, r);
                return;
            }
            // Scaled: only the parts asked for are drawn, each clipped to its own.
            const QRect area(QPoint(0, 0), Fitted(image.size(), size()));
            for (const QRect &r : event->region() - area)
                painter.fillRect(r, Qt::black);
            for (const QRect &r : event->region() & area) {
                painter.setClipRect(r);
                painter.drawImage(area, image);
            }
        });
    }
    if (shown)
        return;
    painter.fillRect(rect(), Qt::black);
    if (connecting_) {
        painter.setPen(Qt::white);
        painter.drawText(rect(), Qt::AlignCenter, connectingText_);
    }
}

// ---- keyboard ------------------------------------------------------------------------------

bool RdpView::event(QEvent *event)
{
    // While connected every key belongs to the remote computer, shortcuts included.
    if (event->type() == QEvent::ShortcutOverride && live_) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

bool RdpView::focusNextPrevChild(bool next)
{
    if (live_)
        return false; // Tab goes to the remote computer
    return QWidget::focusNextPrevChild(next);
}

void RdpView::SendKey(QKeyEvent *event, bool down)
{
    if (!session_ || !live_)
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

void RdpView::keyPressEvent(QKeyEvent *event)
{
    event->accept();
    if (IsFullScreenCombination(event)) {
        ReleaseHeldKeys();
        emit FullScreenKey();
        return;
    }
    SendKey(event, true);
}

void RdpView::keyReleaseEvent(QKeyEvent *event)
{
    event->accept();
    SendKey(event, false);
}

void RdpView::ReleaseHeldKeys()
{
    if (session_ && live_)
        for (uint32_t code : std::as_const(heldKeys_))
            session_->SendKey(false, code);
    heldKeys_.clear();
}

void RdpView::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    UpdateGrab();
}

void RdpView::focusOutEvent(QFocusEvent *event)
{
    ReleaseHeldKeys();
    QWidget::focusOutEvent(event);
    UpdateGrab();
}

void RdpView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!presenterSought_) {
        presenterSought_ = true;
        presenter_ = RdpPresenter::For(this);
    }
    WatchWindow();
    UpdateGrab();
}

void RdpView::hideEvent(QHideEvent *event)
{
    ReleaseHeldKeys();
    QWidget::hideEvent(event);
    UpdateGrab();
}

// ---- mouse ---------------------------------------------------------------------------------

QPoint RdpView::RemotePoint(const QPointF &local) const
{
    if (!remoteSize_.isValid())
        return local.toPoint();
    double x = local.x();
    double y = local.y();
    if (Scaled()) {
        const QSize fitted = PictureArea().size();
        x = x * remoteSize_.width() / std::max(1, fitted.width());
        y = y * remoteSize_.height() / std::max(1, fitted.height());
    }
    return QPoint(std::clamp(int(x), 0, remoteSize_.width() - 1), std::clamp(int(y), 0, remoteSize_.height() - 1));
}

void RdpView::MovePointer(QPoint p)
{
    if (p == lastPointer_)
        return;
    lastPointer_ = p;
    session_->SendMouse(RdpMouse::Move, p.x(), p.y());
}

void RdpView::SendMouseButton(QMouseEvent *event, bool down)
{
    if (!session_ || !live_)
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

void RdpView::mousePressEvent(QMouseEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    SendMouseButton(event, true);
}

void RdpView::mouseReleaseEvent(QMouseEvent *event)
{
    SendMouseButton(event, false);
}

void RdpView::mouseDoubleClickEvent(QMouseEvent *event)
{
    SendMouseButton(event, true);
}

void RdpView::mouseMoveEvent(QMouseEvent *event)
{
    if (!session_ || !live_)
        return;
    MovePointer(RemotePoint(event->position()));
}

void RdpView::wheelEvent(QWheelEvent *event)
{
    event->accept();
    if (!session_ || !live_)
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
}
