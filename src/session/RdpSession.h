#pragma once

#include "RdpReconnect.h"

#include <QImage>
#include <QObject>
#include <QRegion>
#include <QSize>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

// What one remote desktop connection needs to know before it starts.
struct RdpConnectParams {
    QString Host;
    int Port = 3389;
    QString Domain;
    QString User;
    QString Password;
    int Width = 1024;
    int Height = 768;
    int ColorDepth = 24;
    uint32_t KeyboardLayout = 0; // 0: the desktop's
    bool RedirectClipboard = true;
    bool GraphicsPipeline = true;  // offered at 24 and 32 bits
    bool GraphicsAvc444 = false;   // H.264 in full colour too, not only AVC420
    bool DynamicResolution = true; // the desktop follows the window where the server can
    QString CertificateStore;      // folder of the known-hosts store
    RdpReconnectTiming Reconnect;  // after a loss of the network
};

// A server certificate that the user has to decide on.
struct RdpCertificateQuestion {
    QString Host;
    int Port = 0;
    QString CommonName;
    QString Subject;
    QString Issuer;
    QString Fingerprint;
    bool NameMismatch = false; // made out to another name than the server's address
    bool SelfSigned = false;   // signed by itself: nobody vouches for it
    bool Changed = false;      // a different certificate is on record for this server
    QString OldSubject;
    QString OldIssuer;
    QString OldFingerprint;
};

enum class RdpCertificateAnswer {
    Reject,
    TrustAndRemember,
    TrustOnce
};

// Why a connection ended, as far as the client can tell.
struct RdpDisconnectInfo {
    int ServerReason = 0;     // the server's error info code, 0 when it gave none
    uint32_t ClientError = 0; // the client library's last error, 0 when none
    QString Cause;            // the cause in words, empty when none is needed
};

// The remote desktop's picture. The worker writes it, the widget paints it; both
// under the lock. The image stays null until the server has drawn something.
struct RdpFrameBuffer {
    std::mutex Lock;
    QImage Image;
    QRegion Dirty;
    bool UpdatePending = false;
};

struct RdpCore;

// One connection, run by a worker thread that the session owns. Every method is
// called on the GUI thread and returns at once; the signals come on the GUI thread.
// A session that goes while its worker is still inside the library hands the
// thread to the worker registry, which joins it once it has left.
class RdpSession : public QObject {
    Q_OBJECT
public:
    explicit RdpSession(QObject *parent = nullptr);
    ~RdpSession() override;

    void Start(const RdpConnectParams &params);
    // 1 while a connection is up, 0 otherwise.
    int Connected() const;
    // True from the loss of a connection until it is up again or the session ends.
    bool Reconnecting() const;
    // Stops reconnecting at once; the session ends and its end is reported.
    void GiveUpReconnect();
    // Ends a connection properly; the end is reported.
    void Disconnect();
    // Gives the session up at once: a connection being made is cut, one that is up
    // is ended, and no signal comes any more.
    void Cancel();
    RdpFrameBuffer &Frame();

    // The answer to the last CertificateQuestion.
    void AnswerCertificate(RdpCertificateAnswer answer);
    // The desktop's clipboard, offered to the server.
    void SetLocalClipboard(const QString &text, const QImage &image = {});

    // Input. Scan codes are those of the PC/AT keyboard, extended keys with 0x100.
    void SendKey(bool down, uint32_t scanCode);
    // A character that has no key on the remote keyboard layout.
    void SendUnicode(bool down, char16_t unit);
    void SendPause();
    void SendMouse(uint16_t flags, int x, int y);
    void SendExtendedMouse(uint16_t flags, int x, int y);
    // Asks the server for a desktop of this size, once DisplayControlReady has come.
    void RequestDesktopSize(QSize size);
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
    void FrameUpdated();
    void DesktopResized(int width, int height);
    // The server offers to change the desktop's size on request.
    void DisplayControlReady();
    // Answer with AnswerCertificate; the connection waits until then.
    void CertificateQuestion(const RdpCertificateQuestion &question);
    void RemoteClipboardText(const QString &text);
    void RemoteClipboardImage(const QImage &image);

private:
    std::shared_ptr<RdpCore> core_;
    std::thread worker_;
    bool started_ = false;
};

// Worker threads still running, sessions closed or not.
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
