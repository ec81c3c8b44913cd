#pragma once

#include <QObject>
#include <QPointer>

class QMimeData;
class QWidget;
class RdpSession;

// Between the desktop's clipboard and one session's, on the user's terms:
// - the desktop's content is offered to the session only while the session's
//   window is the active one, again each time it becomes active, and the offer
//   ends when another window becomes active;
// - what the server puts on its clipboard reaches the desktop's only when the
//   session's window is active then, and only as a promise: the content is
//   fetched from the server when a program pastes it, waiting for the server at
//   most FetchWaitMs.
class RdpClipboardBridge : public QObject {
    Q_OBJECT
public:
    static constexpr int FetchWaitMs = 1000;

    // view is the session's control; its window's activation decides.
    explicit RdpClipboardBridge(QWidget *view);
    void Start(RdpSession *session);
    void Stop();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void DesktopChanged();
    void OfferDesktop();
    void RemoteOffered(bool text, bool image);
    bool Active() const;

    QWidget *view_;
    QPointer<RdpSession> session_;
    // What this session last put on the desktop's clipboard, while it is there.
    QPointer<QMimeData> own_;
};
