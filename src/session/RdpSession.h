#pragma once

#include <QImage>
#include <QObject>
#include <QRegion>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

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
    QString CertificateStore; // folder of the known-hosts store
};

// A server certificate that the user has to decide on.
struct RdpCertificateQuestion {
    QString Host;
    int Port = 0;
    QString CommonName;
    QString Subject;
    QString Issuer;
    QString Fingerprint;
    bool Changed = false; // a different certificate is on record for this server
    QString OldSubject;
    QString OldIssuer;
    QString OldFingerprint;
};

enum class RdpCertificateAnswer { Reject, TrustAndRemember, TrustOnce };

// Why a connection ended, as far as the client can tell.
struct RdpDisconnectInfo {
    int ServerReason = 0;  // the server's error info code, 0 when it gave none
    uint32_t ClientError = 0; // the client library's last error, 0 when none
    QString Cause;         // the client-side cause in words, empty when none
};

// The remote desktop's picture. The worker writes it, the widget paints it; both
// under the lock.
struct RdpFrameBuffer {
    std::mutex Lock;
    QImage Image;
    QRegion Dirty;
    bool UpdatePending = false;
};

// Receives a session's events, always on the GUI thread.
class RdpSessionListener {
public:
    virtual ~RdpSessionListener() = default;
    virtual void RdpConnected() = 0;
    virtual void RdpDisconnected(const RdpDisconnectInfo &info) = 0;
    virtual void RdpFatalError(int errorCode, const QString &cause) = 0;
    virtual void RdpWarning(int warningCode) = 0;
    virtual void RdpLogonError(int error) = 0;
    virtual void RdpUserNameAcquired(const QString &userName) = 0;
    virtual void RdpFrameUpdated() = 0;
    virtual void RdpDesktopResized(int width, int height) = 0;
    // The answer goes to reply, now or later, at most once.
    virtual void RdpVerifyCertificate(const RdpCertificateQuestion &question,
                                      std::function<void(RdpCertificateAnswer)> reply) = 0;
};

// One connection, run by a worker thread of its own. Every method is called on
// the GUI thread and returns at once.
class RdpSession {
public:
    virtual ~RdpSession() = default;

    virtual void Start(const RdpConnectParams &params) = 0;
    // 1 while a connection is up, 0 otherwise.
    virtual int Connected() const = 0;
    // Ends a connection properly; the disconnection is reported.
    virtual void Disconnect() = 0;
    // Gives the session up at once: a connection being made is cut, one that is up
    // is ended, and nothing is reported any more.
    virtual void Cancel() = 0;
    virtual RdpFrameBuffer &Frame() = 0;

    // Input. Scan codes are those of the PC/AT keyboard, extended keys with 0x100.
    virtual void SendKey(bool down, uint32_t scanCode) = 0;
    virtual void SendPause() = 0;
    virtual void SendMouse(uint16_t flags, int x, int y) = 0;
    virtual void SendExtendedMouse(uint16_t flags, int x, int y) = 0;
};

// The platform's session, reporting to listener through context (which lives on
// the GUI thread and must outlive the session object, not its worker).
std::unique_ptr<RdpSession> CreateRdpSession(RdpSessionListener *listener, QObject *context);

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
