#include "RdpClipboardBridge.h"

#include "RdpSession.h"

#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QWidget>

namespace {

// The server's clipboard as the desktop's: what it holds is fetched when a
// program asks for it, once, from the session that put it there.
class RemoteContent final : public QMimeData {
public:
    RemoteContent(RdpSession *session, bool text, bool image) : session_(session), offersText_(text), offersImage_(image)
    {
    }

    QStringList formats() const override
    {
        QStringList formats;
        if (offersText_)
            formats << QStringLiteral("text/plain") << QStringLiteral("text/plain;charset=utf-8");
        if (offersImage_)
            formats << QStringLiteral("application/x-qt-image");
        return formats;
    }

    bool hasFormat(const QString &mimeType) const override { return formats().contains(mimeType); }

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override
    {
        Q_UNUSED(type);
        if (offersText_ && mimeType.startsWith(QLatin1String("text/plain"))) {
            if (!textFetched_) {
                textFetched_ = true;
                text_ = Fetch(false).Text;
            }
            return text_.isNull() ? QVariant() : QVariant(text_);
        }
        if (offersImage_ && (mimeType == QLatin1String("application/x-qt-image") || mimeType.startsWith(QLatin1String("image/")))) {
            if (!imageFetched_) {
                imageFetched_ = true;
                image_ = Fetch(true).Image;
            }
            return image_.isNull() ? QVariant() : QVariant(image_);
        }
        return {};
    }

private:
    RdpClipboardContent Fetch(bool image) const
    {
        return session_ ? session_->FetchRemoteClipboard(image, RdpClipboardBridge::FetchWaitMs) : RdpClipboardContent();
    }

    QPointer<RdpSession> session_;
    bool offersText_;
    bool offersImage_;
    // Fetched once, when first asked for.
    mutable bool textFetched_ = false;
    mutable bool imageFetched_ = false;
    mutable QString text_;
    mutable QImage image_;
};

} // namespace

RdpClipboardBridge::RdpClipboardBridge(QWidget *view) : QObject(view), view_(view)
{
    view_->installEventFilter(this);
}

void RdpClipboardBridge::Start(RdpSession *session)
{
    session_ = session;
    connect(session, &RdpSession::RemoteClipboardOffered, this, &RdpClipboardBridge::RemoteOffered);
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, &RdpClipboardBridge::DesktopChanged);
    if (Active())
        OfferDesktop();
}

void RdpClipboardBridge::Stop()
{
    disconnect(QGuiApplication::clipboard(), nullptr, this, nullptr);
    if (session_)
        session_->WithdrawLocalClipboard();
    session_ = nullptr;
}

bool RdpClipboardBridge::Active() const
{
    return session_ && view_->isActiveWindow();
}

bool RdpClipboardBridge::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == view_ && session_) {
        if (event->type() == QEvent::WindowActivate)
            OfferDesktop();
        else if (event->type() == QEvent::WindowDeactivate)
            session_->WithdrawLocalClipboard();
    }
    return QObject::eventFilter(watched, event);
}

void RdpClipboardBridge::DesktopChanged()
{
    if (Active())
        OfferDesktop();
}

void RdpClipboardBridge::OfferDesktop()
{
    if (!session_)
        return;
    const QMimeData *content = QGuiApplication::clipboard()->mimeData();
    // The server's own content, back on the desktop: it has it already.
    if (content && content == own_)
        return;
    const QString text = content && content->hasText() ? content->text() : QString();
    const QImage image = content && !content->hasText() && content->hasImage()
        ? qvariant_cast<QImage>(content->imageData())
        : QImage();
    session_->SetLocalClipboard(text, image);
}

void RdpClipboardBridge::RemoteOffered(bool text, bool image)
{
    // A session in the background does not change what the user pastes.
    if (!Active() || (!text && !image))
        return;
    auto *content = new RemoteContent(session_, text, image);
    own_ = content;
    QGuiApplication::clipboard()->setMimeData(content); // the clipboard owns it
}
