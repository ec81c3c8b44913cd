#pragma once

#include "RdpBackend.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

class QKeyEvent;

// One connection, run by a worker thread of the RDP backend, which the first
// session to start loads (RdpBackendLoader.h). Every method is called on the GUI
// thread and returns at once; the signals come on the GUI thread. A session that
// goes while its worker is still inside the library leaves the thread to the
// backend, which joins it once it has left. When the backend cannot be loaded
// the session ends with FatalError, its cause naming the module and why.
class RdpSession : public QObject {
    Q_OBJECT
public:
    explicit RdpSession(QObject *parent = nullptr);
    ~RdpSession() override;

    void Start(const RdpConnectParams &params);
    // 1 while a connection is up, 0 otherwise.
    int Connected() const;
    // The colour depth agreed with the server, 0 before a connection came up.
    int ColorDepth() const;
    // True from the loss of a connection until it is up again or the session ends.
    bool Reconnecting() const;
    // Stops reconnecting at once; the session ends and its end is reported.
    void GiveUpReconnect();
    // Ends a connection properly; the end is reported.
    void Disconnect();
    // Gives the session up at once: a connection being made is cut, one that is up
    // is ended, and no signal comes any more.
    void Cancel();
    // Runs read with the remote desktop's picture (null before the server drew):
    // the image is valid only during the call, and the library draws nothing
    // meanwhile, so read is quick.
    void ReadFrame(const std::function<void(const QImage &)> &read) const;
    // The same, with the shared memory segment the picture starts (RdpConnection).
    void ReadFrameWithSegment(const std::function<void(const QImage &, int segment)> &read) const;
    // The scan code of a key for the remote keyboard (PC/AT set 1, extended keys
    // with 0x100), 0 when it has none or the session has not started.
    uint32_t ScanCode(const QKeyEvent *event) const;

    // The answer to the last CertificateQuestion.
    void AnswerCertificate(RdpCertificateAnswer answer);
    // The desktop's clipboard, offered to the server; empty withdraws the offer.
    void SetLocalClipboard(const QString &text, const QImage &image = {});
    // Ends the standing offer: the server's requests are refused until the next.
    void WithdrawLocalClipboard();
    // What the server's clipboard offers now, as text or as a picture; waits for
    // the server at most waitMs. Empty when it has no such content or does not answer.
    RdpClipboardContent FetchRemoteClipboard(bool image, int waitMs);
    // Requests for the server's clipboard content sent so far.
    int RemoteClipboardFetches() const;

    // Input. Scan codes are those of the PC/AT keyboard, extended keys with 0x100.
    void SendKey(bool down, uint32_t scanCode);
    // A character that has no key on the remote keyboard layout.
    void SendUnicode(bool down, char16_t unit);
    void SendPause();
    void SendMouse(uint16_t flags, int x, int y);
    void SendExtendedMouse(uint16_t flags, int x, int y);
    // Asks the server for a desktop of this size, once DisplayControlReady has come.
    void RequestDesktopSize(QSize size);
    // Takes the session up again with a desktop of this size (the reconnect is
    // reported as after a loss), for a server that cannot change it while connected.
    void ReconnectAtDesktopSize(QSize size);
    // The codecs the pictures came in so far (see RdpGraphics::Codecs).
    QStringList GraphicsCodecs() const;
    bool GraphicsPipelineOpen() const;

signals:
    void SessionConnected();
    void SessionEnded(const RdpDisconnectInfo &info);
    // The connection was lost and attempt k of n to take it up again starts.
    void ReconnectAttempt(int attempt, int tries);
    // The connection is up again after a loss.
    void Reconnected();
    void FatalError(int errorCode, const QString &cause);
    void LogonError(int error);
    void UserNameAcquired(const QString &userName);
    // The server drew: the region changed since the last signal, and the size
    // of the picture (empty when there is none).
    void FrameUpdated(const QRegion &changed, QSize size);
    void DesktopResized(int width, int height);
    // The server offers to change the desktop's size on request.
    void DisplayControlReady();
    // The server ended the connection in answer to a size request; the session
    // is being taken up again at the size asked for.
    void DisplayControlFailed();
    // Answer with AnswerCertificate; the connection waits until then.
    void CertificateQuestion(const RdpCertificateQuestion &question);
    // The server's clipboard holds text, a picture or both; FetchRemoteClipboard gets it.
    void RemoteClipboardOffered(bool text, bool image);

private:
    std::unique_ptr<RdpSessionEvents> events_;
    RdpBackend *backend_ = nullptr;
    std::unique_ptr<RdpConnection> connection_; // made by Start
    bool started_ = false;
    bool cancelled_ = false;
};

// Worker threads still running, sessions closed or not; 0 before the backend is loaded.
int RdpWorkerCount();
// Cancels nothing; waits until every worker has ended or the time is up. True when none is left.
bool WaitForRdpWorkers(int milliseconds);

// Where FreeRDP-style known-hosts stores live unless told otherwise: the
// environment variable BRENNIC_RDP_STORE, else the user's configuration folder.
QString DefaultCertificateStore();
void SetCertificateStore(const QString &folder);
QString CertificateStore();

// Mouse flags of the protocol.
namespace RdpMouse {
inline constexpr uint16_t Move = 0x0800;
inline constexpr uint16_t Down = 0x8000;
inline constexpr uint16_t Button1 = 0x1000; // left
inline constexpr uint16_t Button2 = 0x2000; // right
inline constexpr uint16_t Button3 = 0x4000; // middle
inline constexpr uint16_t Wheel = 0x0200;
inline constexpr uint16_t HWheel = 0x0400;
inline constexpr uint16_t WheelNegative = 0x0100;
inline constexpr uint16_t XDown = 0x8000;
inline constexpr uint16_t XButton1 = 0x0001;
inline constexpr uint16_t XButton2 = 0x0002;
} // namespace RdpMouse
