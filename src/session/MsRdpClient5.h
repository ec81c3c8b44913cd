#pragma once

#include "RdpSession.h"

#include <QString>
#include <QWidget>

#include <memory>

class DesktopSizeFollower;
class RdpCertificatePrompt;
class RdpClipboardBridge;
class RdpReconnectPanel;
class RdpView;
class TFullScreenHint;
class TMsRdpClient5;

// The control's advanced settings: the port and the password.
class TMsRdpClientAdvancedSettings {
public:
    int RDPPort() const;
    void SetRDPPort(int port);                          // 1..65535
    void SetClearTextPassword(const QString &password); // write-only
    // Whether a connection lost to the network is taken up again by itself; on by default.
    bool EnableAutoReconnect() const;
    void SetEnableAutoReconnect(bool enable);
    // The remote keyboard layout (a Windows layout id such as 0x407, German);
    // 0, the default, for the one that matches the desktop's.
    uint32_t KeyboardLayout() const;
    void SetKeyboardLayout(uint32_t layout);

private:
    friend class TMsRdpClient5;
    explicit TMsRdpClientAdvancedSettings(TMsRdpClient5 &owner) : owner_(owner) {}
    TMsRdpClient5 &owner_;
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
// keyboard and the mouse (through its view, RdpView). Its settings fill the
// parameters of the connection; Connect returns at once; the outcome arrives
// as events, always on the GUI thread. Setting a value it cannot take raises AppError.
class TMsRdpClient5 : public QWidget {
    Q_OBJECT
public:
    explicit TMsRdpClient5(QWidget *parent = nullptr);
    ~TMsRdpClient5() override;

    QString ConnectingText() const { return connectingText_; }
    void SetConnectingText(const QString &text);
    QString Server() const { return params_.Host; }
    // Refuses what is no address (ServerAddress.h); blanks around it are dropped.
    void SetServer(const QString &server);
    QString Domain() const { return params_.Domain; }
    void SetDomain(const QString &domain);
    QString UserName() const { return params_.User; }
    void SetUserName(const QString &userName);
    int DesktopWidth() const { return params_.Width; }
    void SetDesktopWidth(int width); // 200..8192
    int DesktopHeight() const { return params_.Height; }
    void SetDesktopHeight(int height); // 200..8192
    bool FullScreen() const { return fullScreen_; }
    void SetFullScreen(bool fullScreen);
    // The depth the session uses once connected, as agreed with the server (32
    // with the graphics pipeline, whatever was asked); before, the depth asked for.
    int ColorDepth() const;
    void SetColorDepth(int bitsPerPixel); // 8, 15, 16, 24 or 32
    // Whether the desktop's clipboard and the remote one share their text and
    // pictures (only while the session's window is active: RdpClipboardBridge); on by default.
    bool RedirectClipboard() const { return params_.RedirectClipboard; }
    void SetRedirectClipboard(bool redirect);
    // Whether the graphics pipeline is offered (at 24 and 32 bits); on by default.
    bool GraphicsPipeline() const { return params_.GraphicsPipeline; }
    void SetGraphicsPipeline(bool offered);
    // Whether H.264 is offered in full colour (AVC444: sharper coloured detail,
    // two streams to decode) besides AVC420; off by default.
    bool GraphicsAvc444() const { return params_.GraphicsAvc444; }
    void SetGraphicsAvc444(bool offered);
    // Whether the remote desktop follows the control's size where the server
    // offers it; on by default. Elsewhere the picture is scaled.
    bool DynamicResolution() const { return params_.DynamicResolution; }
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
    void resizeEvent(QResizeEvent *event) override;

private:
    friend class TMsRdpClientAdvancedSettings;
    friend class TMsRdpClientSecuredSettings;

    // The session's signals.
    void RdpConnected();
    void RdpDisconnected(const RdpDisconnectInfo &info);
    void RdpReconnecting(int attempt, int tries);
    void RdpReconnected();
    void RdpFatalError(int errorCode, const QString &cause);
    void RdpVerifyCertificate(const RdpCertificateQuestion &question);
    void CertificateDecided(bool trusted);

    void RefuseWhileInUse(const char *what) const;
    void ToggleFullScreen();
    void EnterFullScreen();
    void LeaveFullScreen();
    void UpdateLive();
    void UpdateKeyboardGrab();

    TMsRdpClientAdvancedSettings advanced_{*this};
    TMsRdpClientSecuredSettings secured_{*this};
    // What the settings give the connection; the password is dropped once it has started.
    RdpConnectParams params_;
    QString connectingText_;
    bool fullScreen_ = false;
    RdpView *view_ = nullptr;
    DesktopSizeFollower *follower_ = nullptr;
    RdpClipboardBridge *clipboard_ = nullptr;
    TFullScreenHint *fullScreenHint_ = nullptr;
    RdpCertificatePrompt *certificatePrompt_ = nullptr;

    std::unique_ptr<RdpSession> session_;
    RdpReconnectPanel *reconnectPanel_ = nullptr; // made at the first loss
    bool started_ = false;
    bool cancelled_ = false;
    int disconnectCalls_ = 0;
    bool askingUser_ = false;
    QString disconnectCause_;
};
