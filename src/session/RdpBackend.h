#pragma once

// The boundary between the sessions and the RDP client library that runs them.
//
// The library (libfreerdp with its codecs, some 140 shared libraries in all) is
// costly to map and relocate, and most starts of the program open no session
// for a while, if ever. So the library lives in a backend module of its own,
// loaded when the first session starts (RdpBackendLoader.h). The module knows
// nothing of the program's classes: it sees the plain data below and talks
// back only through RdpSessionEvents; the program reaches it only through
// RdpBackend and RdpConnection. Another client library would be another module
// with the same entry point.

#include "RdpConnectParams.h"

#include <QImage>
#include <QRegion>
#include <QSize>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

class QObject;

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

// What the server's clipboard held when asked; empty when nothing came.
struct RdpClipboardContent {
    QString Text;
    QImage Image;
};

// Input for the server, queued to the worker.
struct RdpInput {
    enum Kind {
        Key,
        Unicode,
        Pause,
        Mouse,
        ExtendedMouse,
        ClipboardChanged,
        DesktopSize,           // through the display control channel
        DesktopSizeByReconnect // by taking the session up again at that size
    };
    Kind kind;
    uint16_t flags = 0;
    uint32_t code = 0;
    int x = 0;
    int y = 0;
};

// What a connection tells its session. Every call comes on the GUI thread, from
// a queued call whose context is the session's receiver object.
class RdpSessionEvents {
public:
    virtual ~RdpSessionEvents() = default;
    virtual void Connected() = 0;
    virtual void Ended(const RdpDisconnectInfo &info) = 0;
    virtual void ReconnectAttempt(int attempt, int tries) = 0;
    virtual void Reconnected() = 0;
    virtual void FatalError(int errorCode, const QString &cause) = 0;
    virtual void LogonError(int error) = 0;
    virtual void UserNameAcquired(const QString &userName) = 0;
    // The server drew: the region changed since the last report, and the
    // picture's size (empty when there is none).
    virtual void FrameUpdated(const QRegion &changed, QSize size) = 0;
    virtual void DesktopResized(int width, int height) = 0;
    virtual void DisplayControlReady() = 0;
    // The server ended the connection in answer to a request for another
    // desktop size; the session is being taken up again at that size.
    virtual void DisplayControlFailed() = 0;
    virtual void CertificateQuestion(const RdpCertificateQuestion &question) = 0;
    // The server's clipboard now holds text, a picture or both; fetched on demand.
    virtual void RemoteClipboardOffered(bool text, bool image) = 0;
};

// One connection, run by a worker thread of the backend's. Every method is
// called on the GUI thread and returns at once; see RdpSession for each. Once
// destroyed it makes no call any more; a worker still inside the library is
// joined by the backend once it has left.
class RdpConnection {
public:
    virtual ~RdpConnection() = default;
    virtual void Start(const RdpConnectParams &params) = 0;
    virtual int Connected() const = 0;
    // The colour depth agreed with the server, 0 before the connection is up.
    virtual int ColorDepth() const = 0;
    virtual bool Reconnecting() const = 0;
    virtual void GiveUpReconnect() = 0;
    virtual void Disconnect() = 0;
    virtual void Cancel() = 0;
    // Runs read with the remote desktop's picture (null before the server drew)
    // and the System V shared memory segment whose start the image is, or -1 (a
    // display server on this machine can take the picture from the segment);
    // on the calling thread, while the library draws nothing: the image is valid
    // only during the call.
    virtual void ReadFrameWithSegment(const std::function<void(const QImage &, int segment)> &read) const = 0;
    virtual void AnswerCertificate(RdpCertificateAnswer answer) = 0;
    virtual void SetLocalClipboard(const QString &text, const QImage &image) = 0;
    virtual void WithdrawLocalClipboard() = 0;
    virtual RdpClipboardContent FetchRemoteClipboard(bool image, int waitMs) = 0;
    virtual int RemoteClipboardFetches() const = 0;
    virtual void Send(const RdpInput &input) = 0;
    virtual QStringList GraphicsCodecs() const = 0;
    virtual bool GraphicsPipelineOpen() const = 0;
};

// A loaded backend; it lives as long as the process.
class RdpBackend {
public:
    virtual ~RdpBackend() = default;
    // A connection that reports to events, in queued calls with receiver as their context.
    virtual std::unique_ptr<RdpConnection> NewConnection(QObject *receiver, RdpSessionEvents *events) = 0;
    // The scan code of a key (PC/AT set 1, extended keys with 0x100), 0 when it
    // has none: from the native key code when the platform gives one, else
    // from the toolkit's key.
    virtual uint32_t ScanCode(uint32_t nativeScanCode, int key) = 0;
    // Worker threads still running, their sessions gone or not.
    virtual int WorkerCount() = 0;
    // Waits until every worker has ended or the time is up; true when none is left.
    virtual bool WaitForWorkers(int milliseconds) = 0;
};

// The one symbol a backend module exports: its backend, or nullptr when the
// module was built against another version of this interface.
inline constexpr int RdpBackendInterfaceVersion = 6;
inline constexpr char RdpBackendEntryPoint[] = "BrennicRdpBackend";
using RdpBackendEntry = RdpBackend *(*)(int interfaceVersion);
