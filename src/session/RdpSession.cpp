#include "RdpSession.h"

#include "RdpBackendLoader.h"

#include <QKeyEvent>
#include <QMetaObject>
#include <QStandardPaths>

#include <mutex>

namespace {

// The connection's reports, told on as the session's signals.
class SessionEvents final : public RdpSessionEvents {
public:
    explicit SessionEvents(RdpSession &session) : s_(session) {}
    void Connected() override { emit s_.SessionConnected(); }
    void Ended(const RdpDisconnectInfo &info) override { emit s_.SessionEnded(info); }
    void ReconnectAttempt(int attempt, int tries) override { emit s_.ReconnectAttempt(attempt, tries); }
    void Reconnected() override { emit s_.Reconnected(); }
    void FatalError(int errorCode, const QString &cause) override { emit s_.FatalError(errorCode, cause); }
    void LogonError(int error) override { emit s_.LogonError(error); }
    void UserNameAcquired(const QString &userName) override { emit s_.UserNameAcquired(userName); }
    void FrameUpdated(const QRegion &changed, QSize size) override { emit s_.FrameUpdated(changed, size); }
    void DesktopResized(int width, int height) override { emit s_.DesktopResized(width, height); }
    void DisplayControlReady() override { emit s_.DisplayControlReady(); }
    void DisplayControlFailed() override { emit s_.DisplayControlFailed(); }
    void CertificateQuestion(const RdpCertificateQuestion &question) override { emit s_.CertificateQuestion(question); }
    void RemoteClipboardOffered(bool text, bool image) override { emit s_.RemoteClipboardOffered(text, image); }

private:
    RdpSession &s_;
};

std::mutex g_storeLock;
QString g_certificateStore;

} // namespace

RdpSession::RdpSession(QObject *parent) : QObject(parent), events_(std::make_unique<SessionEvents>(*this))
{
    qRegisterMetaType<RdpDisconnectInfo>();
    qRegisterMetaType<RdpCertificateQuestion>();
}

RdpSession::~RdpSession()
{
    // The connection makes no call once it has gone; its worker, if still
    // inside the library, is the backend's to join.
    connection_.reset();
}

void RdpSession::Start(const RdpConnectParams &params)
{
    if (started_)
        return;
    started_ = true;
    QString error;
    backend_ = LoadRdpBackend(&error);
    if (!backend_) {
        // Told as every failure to connect is: later, as a signal.
        QMetaObject::invokeMethod(
            this, [this, error] { if (!cancelled_) emit FatalError(1, error); }, Qt::QueuedConnection);
        return;
    }
    connection_ = backend_->NewConnection(this, events_.get());
    if (cancelled_)
        connection_->Cancel(); // given up before it started: it reports nothing
    connection_->Start(params);
}

int RdpSession::Connected() const
{
    return connection_ ? connection_->Connected() : 0;
}

int RdpSession::ColorDepth() const
{
    return connection_ ? connection_->ColorDepth() : 0;
}

bool RdpSession::Reconnecting() const
{
    return connection_ && connection_->Reconnecting();
}

void RdpSession::GiveUpReconnect()
{
    if (connection_)
        connection_->GiveUpReconnect();
}

void RdpSession::Disconnect()
{
    if (connection_)
        connection_->Disconnect();
}

void RdpSession::Cancel()
{
    cancelled_ = true;
    if (connection_)
        connection_->Cancel();
}

void RdpSession::ReadFrame(const std::function<void(const QImage &)> &read) const
{
    ReadFrameWithSegment([&](const QImage &image, int) { read(image); });
}

void RdpSession::ReadFrameWithSegment(const std::function<void(const QImage &, int)> &read) const
{
    if (connection_)
        connection_->ReadFrameWithSegment(read);
    else
        read(QImage(), -1);
}

uint32_t RdpSession::ScanCode(const QKeyEvent *event) const
{
    return backend_ ? backend_->ScanCode(event->nativeScanCode(), event->key()) : 0;
}

void RdpSession::AnswerCertificate(RdpCertificateAnswer answer)
{
    if (connection_)
        connection_->AnswerCertificate(answer);
}

void RdpSession::SetLocalClipboard(const QString &text, const QImage &image)
{
    if (connection_)
        connection_->SetLocalClipboard(text, image);
}

void RdpSession::WithdrawLocalClipboard()
{
    if (connection_)
        connection_->WithdrawLocalClipboard();
}

RdpClipboardContent RdpSession::FetchRemoteClipboard(bool image, int waitMs)
{
    return connection_ && !cancelled_ ? connection_->FetchRemoteClipboard(image, waitMs) : RdpClipboardContent();
}

int RdpSession::RemoteClipboardFetches() const
{
    return connection_ ? connection_->RemoteClipboardFetches() : 0;
}

void RdpSession::SendKey(bool down, uint32_t scanCode)
{
    if (connection_)
        connection_->Send({RdpInput::Key, uint16_t(down ? 1 : 0), scanCode});
}

void RdpSession::SendUnicode(bool down, char16_t unit)
{
    if (connection_)
        connection_->Send({RdpInput::Unicode, uint16_t(down ? 1 : 0), unit});
}

void RdpSession::SendPause()
{
    if (connection_)
        connection_->Send({RdpInput::Pause});
}

void RdpSession::SendMouse(uint16_t flags, int x, int y)
{
    if (connection_)
        connection_->Send({RdpInput::Mouse, flags, 0, x, y});
}

void RdpSession::SendExtendedMouse(uint16_t flags, int x, int y)
{
    if (connection_)
        connection_->Send({RdpInput::ExtendedMouse, flags, 0, x, y});
}

void RdpSession::RequestDesktopSize(QSize size)
{
    if (connection_)
        connection_->Send({RdpInput::DesktopSize, 0, 0, size.width(), size.height()});
}

void RdpSession::ReconnectAtDesktopSize(QSize size)
{
    if (connection_)
        connection_->Send({RdpInput::DesktopSizeByReconnect, 0, 0, size.width(), size.height()});
}

QStringList RdpSession::GraphicsCodecs() const
{
    return connection_ ? connection_->GraphicsCodecs() : QStringList();
}

bool RdpSession::GraphicsPipelineOpen() const
{
    return connection_ && connection_->GraphicsPipelineOpen();
}

int RdpWorkerCount()
{
    RdpBackend *backend = LoadedRdpBackend();
    return backend ? backend->WorkerCount() : 0;
}

bool WaitForRdpWorkers(int milliseconds)
{
    RdpBackend *backend = LoadedRdpBackend();
    return !backend || backend->WaitForWorkers(milliseconds);
}

QString DefaultCertificateStore()
{
    const QString fromEnvironment = qEnvironmentVariable("BRENNIC_RDP_STORE");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + QStringLiteral("/rdp");
}

void SetCertificateStore(const QString &folder)
{
    std::lock_guard guard(g_storeLock);
    g_certificateStore = folder;
}

QString CertificateStore()
{
    std::lock_guard guard(g_storeLock);
    return g_certificateStore.isEmpty() ? DefaultCertificateStore() : g_certificateStore;
}
