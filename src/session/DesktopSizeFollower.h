#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QTimer>

#include <functional>

class QWidget;
class RdpSession;

// Dynamic resolution on the control's side: once the server offers to change
// the desktop's size, the desktop follows the view. A resize asks the server
// for a desktop of the view's size when the user has stopped resizing for a
// moment, once, not for every step of the drag. Full screen asks for the
// screen's size; leaving it asks for the size the desktop had before. Where the
// server does not offer it nothing is asked and the view scales the picture.
// A server that ends the connection when asked (the session then comes back at
// the new size by reconnecting) is remembered for as long as the program runs:
// its sessions reach each new size by reconnecting, not by asking.
class DesktopSizeFollower : public QObject {
    Q_OBJECT
public:
    // How long the view's size must stay the same before the server is asked.
    static constexpr int SettleMs = 400;
    // How long after leaving full screen the window's own settling (back to its
    // size and place, which may take the window manager a few seconds) is not followed.
    static constexpr int LeaveFullScreenMs = 5000;

    // remoteSize tells the desktop's present size.
    DesktopSizeFollower(QWidget *view, std::function<QSize()> remoteSize);

    // Follows for this session once it reports that the server offers it;
    // server names it ("host:port") among the servers remembered.
    void Start(RdpSession *session, const QString &server);
    // True once the server has ended a connection when asked for another size.
    static bool ResizesByReconnect(const QString &server);
    void Stop();
    bool Ready() const { return ready_; }
    void EnteringFullScreen();
    void LeftFullScreen();
    // Requests sent so far, and the last one.
    int Requests() const { return requests_; }
    QSize LastRequest() const { return lastRequest_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Settled();

    QWidget *view_;
    std::function<QSize()> remoteSize_;
    QPointer<RdpSession> session_;
    QString server_;
    QTimer settle_;
    bool ready_ = false;
    QSize beforeFullScreen_;
    QSize target_; // asked for instead of the view's size, while valid
    QElapsedTimer leftFullScreen_;
    int requests_ = 0;
    QSize lastRequest_;
};
