#pragma once

#include <QList>
#include <QPointer>
#include <QRegion>
#include <QSize>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class QWindow;
class RdpPresenter;
class RdpSession;

// Shows one session's remote desktop and sends it the keyboard and the mouse.
// The picture is painted straight from the session's frame, only where it
// changed: at the remote size where the view has it, otherwise scaled to fit,
// keeping its proportions. Before the first picture it shows the connecting
// text. Keys go as scan codes of the remote keyboard, characters with no key
// of their own as characters; every key held is let go when the view loses
// the focus or is hidden. Input goes only while the view is live.
//
// Where the platform allows (RdpPresenter) and the picture is not scaled, the
// changed parts go straight from the library's buffer to the window; the view
// paints them itself only where something of the program lies over them, and
// whenever presenting cannot take them.
class RdpView : public QWidget {
    Q_OBJECT
public:
    // Runs a reader with the picture and the shared memory segment it starts
    // (-1 for none); the image is valid only during the call.
    using PictureSource = std::function<void(const std::function<void(const QImage &, int segment)> &)>;

    explicit RdpView(QWidget *parent = nullptr);
    ~RdpView() override;

    // The picture is the session's frame.
    void SetSession(RdpSession *session);
    // The picture comes from elsewhere.
    void SetPictureSource(PictureSource source);
    // Whether the last change went straight to the window rather than through painting.
    bool PresentedDirectly() const { return presented_; }
    void SetConnectingText(const QString &text);
    // Whether the connecting text shows while there is no picture.
    void SetConnecting(bool connecting);
    // Whether input goes to the session: while a connection is up or being
    // taken up again.
    void SetLive(bool live);
    bool Live() const;
    // Whether every key, system combinations included, is to go to the remote
    // computer while the view has the focus: the keyboard is then grabbed.
    void SetKeyboardGrab(bool wanted);
    // The remote desktop's size as the server set it; empty before the first picture.
    QSize RemoteSize() const { return remoteSize_; }
    void ReleaseHeldKeys();

    // The session's reports.
    void FrameUpdated(const QRegion &changed, QSize size);
    void DesktopResized(int width, int height);

signals:
    // Ctrl+Alt+Enter (or Ctrl+Alt+Pause, as on Windows) was pressed.
    void FullScreenKey();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private:
    bool Scaled() const;
    QRect PictureArea() const;
    // The view's area that shows this part of the remote picture.
    QRect ViewRect(const QRect &remote) const;
    QPoint RemotePoint(const QPointF &local) const;
    // Puts these parts of the picture on the window where nothing covers them;
    // what was put.
    QRegion Present(const QRegion &parts);
    // The whole picture again, after the window was uncovered.
    void PresentAll();
    // The view's part on the screen that no widget of the program covers.
    QRegion Uncovered() const;
    void WatchWindow();
    // The remote pointer goes to p first when it is not there: some servers place
    // a button or wheel event at the pointer, not at the event's own position.
    void MovePointer(QPoint p);
    void SendKey(QKeyEvent *event, bool down);
    void SendMouseButton(QMouseEvent *event, bool down);
    void UpdateGrab();

    QPointer<RdpSession> session_;
    PictureSource picture_;
    std::unique_ptr<RdpPresenter> presenter_;
    bool presenterSought_ = false;
    bool presented_ = false;
    QPointer<QWindow> watchedWindow_;
    QString connectingText_;
    bool connecting_ = false;
    bool live_ = false;
    bool grabWanted_ = false;
    bool grabbing_ = false;
    QSize remoteSize_;
    QList<uint32_t> heldKeys_;
    QPoint lastPointer_{-1, -1};
};
