#pragma once

#include "RdpSession.h"

#include <QString>
#include <QWidget>

#include <memory>

class RdpReconnectPanel;
class TMsRdpClient5;
class DesktopSizeFollower;
class RdpClipboardBridge;
class TFullScreenHint;

// The control's advanced settings: the port and the password.
class TMsRdpClientAdvancedSettings {
public:
    int RDPPort() const { return port_; }
    void SetRDPPort(int port);                          // 1..65535
    void SetClearTextPassword(const QString &password); // write-only
    // Whether a connection lost to the network is taken up again by itself; on by default.
    bool EnableAutoReconnect() const { return autoReconnect_; }
    void SetEnableAutoReconnect(bool enable);
    // The remote keyboard layout (a Windows layout id such as 0x407, German);
    // 0, the default, for the one that matches the desktop's.
    uint32_t KeyboardLayout() const { return keyboardLayout_; }
    void SetKeyboardLayout(uint32_t layout);

private:
    friend class TMsRdpClient5;
    explicit TMsRdpClientAdvancedSettings(TMsRdpClient5 &owner) : owner_(owner) {}
    TMsRdpClient5 &owner_;
    int port_ = 3389;
    QString password_;
    bool autoReconnect_ = true;
    uint32_t keyboardLayout_ = 0;
};

// The control's secured settings: how system key combinations are treated.
class TMsRdpClientSecuredSettings {
public:
    // 0: they stay on this computer; 1: they go to the remote computer while the
    // session has the focus; 2: only in full screen.
    int KeyboardHookMode() const { return mode_; }
    void SetKeyboardHookMode(int mode);

private:
    friend class TMsRdpClient5;
    explicit TMsRdpClientSecuredSettings(TMsRdpClient5 &owner) : owner_(owner) {}
    TMsRdpClient5 &owner_;
    int mode_ = 0;
};

// The remote desktop client control: shows one remote desktop and sends it the
// keyboard and the mouse. Connect returns at once; the outcome arrives as events,
// always on the GUI thread. Setting a value it cannot take raises AppError.
class TMsRdpClient5 : public QWidget {
    Q_OBJECT
public:
    explicit TMsRdpClient5(QWidget *parent = nullptr);
    ~TMsRdpClient5() override;

    QString ConnectingText() const { return connectingText_; }
    void SetConnectingText(const QString &text);
    QString Server() const { return server_; }
    // Refuses what is no address (ServerAddress.h); blanks around it are dropped.
    void SetServer(const QString &server);
    QString Domain() const { return domain_; }
    void SetDomain(const QString &domain);
    QString UserName() const { return userName_; }
    void SetUserName(const QString &userName);
    int DesktopWidth() const { return desktopWidth_; }
    void SetDesktopWidth(int width); // 200..8192
    int DesktopHeight() const { return desktopHeight_; }
    void SetDesktopHeight(int height); // 200..8192
    bool FullScreen() const { return fullScreen_; }
    void SetFullScreen(bool fullScreen);
    // The depth the session uses once connected, as agreed with the server (32
    // with the graphics pipeline, whatever was asked); before, the depth asked for.
    int ColorDepth() const;
    void SetColorDepth(int bitsPerPixel); // 8, 15, 16, 24 or 32
    // Whether the desktop's clipboard and the remote one share their text and
    // pictures (only while the session's window is active: RdpClipboardBridge); on by default.
    bool RedirectClipboard() const { return redirectClipboard_; }
    void SetRedirectClipboard(bool redirect);
    // Whether the graphics pipeline is offered (at 24 and 32 bits); on by default.
    bool GraphicsPipeline() const { return graphicsPipeline_; }
    void SetGraphicsPipeline(bool offered);
    // Whether H.264 is offered in full colour (AVC444: sharper coloured detail,
    // two streams to decode) besides AVC420; off by default.
    bool GraphicsAvc444() const { return graphicsAvc444_; }
    void SetGraphicsAvc444(bool offered);
    // Whether the remote desktop follows the control's size where the server
    // offers it; on by default. Elsewhere the picture is scaled.
    bool DynamicResolution() const { return dynamicResolution_; }
    void SetDynamicResolution(bool follow);

    TMsRdpClientAdvancedSettings *AdvancedSettings2() { return &advanced_; }
    TMsRdpClientSecuredSettings *SecuredSettings2() { return &secured_; }

    // Starts connecting and returns at once.
    void Connect();
    // 1 while connected, and while a connection lost to the network is being
    // taken up again; 0 otherwise (also while a connection is being made).
    short Connected() const;
    // True while a lost connection is being taken up again.
    bool IsReconnecting() const;
    // Gives reconnecting up: the session ends at once and OnDisconnected follows.
    void StopAutoReconnect();
    // Ends a connection; OnDisconnected follows.
    void Disconnect();
    // Gives the session up for good: a connection being made is cut, one that is up
    // is ended, the worker ends, and no event comes any more.
    void Cancel();

    // True while the user is asked about the server's certificate.
    bool IsAskingUser() const { return askingUser_; }

    // How often Disconnect has been called.
    int DisconnectCalls() const { return disconnectCalls_; }

    // Why the last connection ended or failed on this side, in words; empty when
    // the server ended it or nothing has ended yet.
    QString DisconnectCause() const { return disconnectCause_; }
    // The remote desktop's size as the server set it; empty before the first frame.
    QSize RemoteDesktopSize() const;
    // True once the server opened the graphics pipeline in this connection.
    bool GraphicsPipelineOpen() const;
    // The codecs the pictures came in so far: "AVC444v2", "AVC420", "RemoteFX",
    // "progressive", "planar" ... on the pipeline, "bitmap" outside it.
    QStringList GraphicsCodecs() const;
    // True while the server offers to change the desktop's size.
    bool DynamicResolutionReady() const;
    // Desktop sizes asked of the server so far in this connection.
    int DesktopSizeRequests() const;
    // Requests for the server's clipboard content so far: made only when a
    // program pastes what the server offered.
    int RemoteClipboardFetches() const;
    // A copy of the remote desktop's picture.
    QImage RemoteFrame() const;
    // One pixel of it, 0 outside.
    QRgb RemotePixel(QPoint point) const;

    // Where the known-hosts store of server certificates lives, for every session.
    static void SetCertificateStoreFolder(const QString &folder);
    static QString CertificateStoreFolder();
    // The tries and times of reconnecting, for every session started afterwards.
    static void SetReconnectTiming(const RdpReconnectTiming &timing);

signals:
    void OnConnected();
    void OnDisconnected(int discReason);
    // The connection was lost to the network; attempt k of n to take it up again
    // starts. Only when the last one fails, or reconnecting is given up, does
    // OnDisconnected follow.
    void OnAutoReconnecting(int disconnectReason, int attemptCount, int maxAttemptCount);
    // The connection is up again after a loss.
    void OnAutoReconnected();
    void OnLeaveFullScreenMode();
    void OnFatalError(int errorCode);
    void OnWarning(int warningCode);
    void OnLogonError(int lError);
    void OnUserNameAcquired(const QString &bstrUserName);
    // The user is asked about the server's certificate; the attempt waits meanwhile.
    void CertificateAsked();
    void CertificateAnswered(bool trusted);

protected:
    bool event(QEvent *event) override;
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
    void hideEvent(QHideEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private:
    friend class TMsRdpClientAdvancedSettings;
    friend class TMsRdpClientSecuredSettings;

    // The session's signals.
    void RdpConnected();
    void RdpDisconnected(const RdpDisconnectInfo &info);
    void RdpReconnecting(int attempt, int tries);
    void RdpReconnected();
    void RdpFatalError(int errorCode, const QString &cause);
    void RdpFrameUpdated();
    void RdpDesktopResized(int width, int height);
    void RdpVerifyCertificate(const RdpCertificateQuestion &question);

    void RefuseWhileInUse(const char *what) const;
    void SendKey(QKeyEvent *event, bool down);
    void SendMouseButton(QMouseEvent *event, bool down);
    QPoint RemotePoint(const QPointF &local) const;
    // The remote pointer goes to p first when it is not there: some servers place
    // a button or wheel event at the pointer, not at the event's own position.
    void MovePointer(QPoint p);
    bool Scaled() const;
    void EnterFullScreen();
    void LeaveFullScreen();
    void ReleaseHeldKeys();
    void UpdateKeyboardGrab();

    TMsRdpClientAdvancedSettings advanced_{*this};
    TMsRdpClientSecuredSettings secured_{*this};
    QString connectingText_;
    QString server_;
    QString domain_;
    QString userName_;
    int desktopWidth_ = 1024;
    int desktopHeight_ = 768;
    bool fullScreen_ = false;
    int colorDepth_ = 24;
    bool redirectClipboard_ = true;
    bool graphicsPipeline_ = true;
    bool graphicsAvc444_ = false;
    bool dynamicResolution_ = true;
    DesktopSizeFollower *follower_ = nullptr;
    RdpClipboardBridge *clipboard_ = nullptr;
    TFullScreenHint *fullScreenHint_ = nullptr;

    std::unique_ptr<RdpSession> session_;
    RdpReconnectPanel *reconnectPanel_ = nullptr; // made at the first loss
    bool started_ = false;
    bool cancelled_ = false;
    bool grabbing_ = false;
    int disconnectCalls_ = 0;
    bool askingUser_ = false;
    QString disconnectCause_;
    QSize remoteSize_;
    QList<uint32_t> heldKeys_;
    QPoint lastPointer_{-1, -1};
};
