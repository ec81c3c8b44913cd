// The remote desktop connection on libfreerdp 2: one worker thread per session,
// events handed to the GUI thread through queued calls.
#include "RdpSession.h"

#include <QDir>
#include <QLoggingCategory>
#include <QPointer>
#include <QStandardPaths>

#include <freerdp/client.h>
#include <freerdp/client/cmdline.h>
#include <freerdp/error.h>
#include <freerdp/freerdp.h>
#include <freerdp/gdi/gdi.h>
#include <freerdp/input.h>
#include <freerdp/session.h>
#include <freerdp/settings.h>
#include <winpr/synch.h>
#include <winpr/wlog.h>

#include <dlfcn.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cerrno>
#include <cstring>
#include <deque>
#include <optional>
#include <thread>
#include <vector>

Q_LOGGING_CATEGORY(lcRdp, "brennic.rdp", QtWarningMsg)

namespace {

struct InputEvent {
    enum Kind { Key, Pause, Mouse, ExtendedMouse } kind;
    uint16_t flags = 0;
    uint32_t code = 0;
    int x = 0;
    int y = 0;
};

struct Core;

// The context the library allocates for each session: plain data ending in a
// pointer back to our state.
struct ClientContext {
    rdpClientContext common;
    Core *core;
};

// Workers still running, for the wait at shutdown.
std::mutex g_workersLock;
std::condition_variable g_workersDone;
std::vector<std::weak_ptr<Core>> g_workers;

QString g_certificateStore;
std::mutex g_storeLock;

thread_local Core *t_core = nullptr;

struct Core : std::enable_shared_from_this<Core> {
    RdpConnectParams params;

    std::mutex lock; // guards instance, context, listener, input
    freerdp *instance = nullptr;
    QObject *context = nullptr;
    RdpSessionListener *listener = nullptr;
    std::deque<InputEvent> input;
    HANDLE inputEvent = nullptr;

    std::atomic<bool> cancelled{false};
    std::atomic<bool> disconnectRequested{false};
    std::atomic<int> connected{0};
    std::atomic<bool> finished{false};

    std::mutex certLock;
    std::condition_variable certChanged;
    std::optional<RdpCertificateAnswer> certAnswer;

    QString lastLogError;    // worker thread only
    QString connectionState; // worker thread only: the library's last connection state

    // The sockets the worker opened towards the server, with their two ends, so
    // that a blocked attempt can be cut without asking the library from another thread.
    struct Socket {
        int fd;
        sockaddr_storage local;
        sockaddr_storage peer;
    };
    std::vector<Socket> sockets; // under lock

    RdpFrameBuffer frame;

    Core() { inputEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Core()
    {
        if (inputEvent)
            CloseHandle(inputEvent);
    }

    // Runs fn on the GUI thread, unless the session has been given up by then.
    template <class Fn>
    void Post(Fn fn)
    {
        std::weak_ptr<Core> weak = weak_from_this();
        std::lock_guard guard(lock);
        if (!context || cancelled)
            return;
        QMetaObject::invokeMethod(
            context,
            [weak, fn = std::move(fn)]() {
                auto self = weak.lock();
                if (!self || self->cancelled)
                    return;
                RdpSessionListener *target = nullptr;
                {
                    std::lock_guard guard(self->lock);
                    target = self->listener;
                }
                if (target)
                    fn(*target);
            },
            Qt::QueuedConnection);
    }

    // Wakes a connection attempt that waits on the network: the library's own
    // abort does not interrupt a blocking read, shutting the sockets down does.
    void AbortHard()
    {
        std::lock_guard guard(lock);
        if (!instance)
            return;
        freerdp_abort_connect(instance);
        if (connected)
            return;
        for (const Socket &socket : sockets)
            if (StillTheSame(socket))
                ::shutdown(socket.fd, SHUT_RDWR);
    }

    static bool StillTheSame(const Socket &socket)
    {
        sockaddr_storage local{};
        sockaddr_storage peer{};
        socklen_t localLength = sizeof local;
        socklen_t peerLength = sizeof peer;
        if (::getsockname(socket.fd, reinterpret_cast<sockaddr *>(&local), &localLength) != 0)
            return false;
        if (std::memcmp(&local, &socket.local, sizeof local) != 0)
            return false;
        if (::getpeername(socket.fd, reinterpret_cast<sockaddr *>(&peer), &peerLength) != 0)
            return true; // not connected yet: the same socket still
        return std::memcmp(&peer, &socket.peer, sizeof peer) == 0;
    }

    void RecordSocket(int fd, const sockaddr *address, socklen_t length)
    {
        Socket socket{fd, {}, {}};
        socklen_t localLength = sizeof socket.local;
        if (::getsockname(fd, reinterpret_cast<sockaddr *>(&socket.local), &localLength) != 0)
            return;
        std::memcpy(&socket.peer, address, std::min<size_t>(length, sizeof socket.peer));
        std::lock_guard guard(lock);
        sockets.push_back(socket);
    }

    void Enqueue(const InputEvent &event)
    {
        if (!connected)
            return;
        std::lock_guard guard(lock);
        input.push_back(event);
        SetEvent(inputEvent);
    }
};

// ---- logging -----------------------------------------------------------------

BOOL OnLogMessage(const wLogMessage *msg)
{
    const QString text = QString::fromUtf8(msg->TextString ? msg->TextString : "");
    if (msg->Level >= WLOG_ERROR && t_core)
        t_core->lastLogError = text;
    // The connection's progress, to tell where a failed attempt stopped.
    static const QString transition = QStringLiteral("rdp_client_transition_to_state");
    if (t_core && text.startsWith(transition)) {
        const QString next = text.section(QStringLiteral("--> "), 1).trimmed();
        if (next != QLatin1String("CONNECTION_STATE_INITIAL")) // a failure falls back to it
            t_core->connectionState = next;
    }
    if (msg->Level < WLOG_WARN && !lcRdp().isDebugEnabled())
        return TRUE;
    // The library reports ordinary outcomes, a refused connection among them, as errors.
    if (msg->Level >= WLOG_FATAL)
        qCWarning(lcRdp).noquote() << text;
    else
        qCDebug(lcRdp).noquote() << text;
    return TRUE;
}

void RouteLibraryLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        wLog *root = WLog_GetRoot();
        WLog_SetLogLevel(root, lcRdp().isDebugEnabled() ? WLOG_DEBUG : WLOG_WARN);
        WLog_SetLogAppenderType(root, WLOG_APPENDER_CALLBACK);
        wLogCallbacks callbacks{};
        callbacks.message = OnLogMessage;
        WLog_ConfigureAppender(WLog_GetLogAppender(root), "callbacks", &callbacks);
        WLog_OpenAppender(root);
        // Its state changes are told at the debug level; they say where an attempt failed.
        WLog_SetLogLevel(WLog_Get("com.freerdp.core.connection"), WLOG_DEBUG);
    });
}

// ---- causes in words ------------------------------------------------------------

// Whether the server's port refuses connections: asked again after a failed
// attempt, because the library reports a refused connection as a failed write.
bool PortRefuses(const sockaddr_storage &peer)
{
    const int fd = ::socket(peer.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const socklen_t length = peer.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    int error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&peer), length) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            error = 0;
            if (::poll(&p, 1, 500) == 1) {
                socklen_t size = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
            }
        }
    }
    ::close(fd);
    return error == ECONNREFUSED;
}

QString DescribeClientError(uint32_t error, bool wasConnected, bool refused, const QString &state,
                            const QString &logText)
{
    QString cause;
    switch (error) {
    case FREERDP_ERROR_SUCCESS:
        return wasConnected ? QString() : QStringLiteral("连接失败");
    case FREERDP_ERROR_DNS_NAME_NOT_FOUND:
    case FREERDP_ERROR_DNS_ERROR:
        cause = QStringLiteral("找不到服务器名称");
        break;
    case FREERDP_ERROR_CONNECT_FAILED:
        cause = QStringLiteral("无法连接到服务器");
        break;
    case FREERDP_ERROR_TLS_CONNECT_FAILED:
        cause = QStringLiteral("安全连接 (TLS) 失败");
        break;
    case FREERDP_ERROR_CONNECT_CANCELLED:
        cause = QStringLiteral("连接已取消");
        break;
    case FREERDP_ERROR_AUTHENTICATION_FAILED:
    case FREERDP_ERROR_CONNECT_LOGON_FAILURE:
    case FREERDP_ERROR_CONNECT_WRONG_PASSWORD:
    case FREERDP_ERROR_CONNECT_ACCESS_DENIED:
        cause = QStringLiteral("身份验证失败:用户名或密码错误");
        break;
    case FREERDP_ERROR_CONNECT_NO_OR_MISSING_CREDENTIALS:
        cause = QStringLiteral("缺少用户名或密码");
        break;
    case FREERDP_ERROR_CONNECT_ACCOUNT_DISABLED:
    case FREERDP_ERROR_CONNECT_ACCOUNT_RESTRICTION:
    case FREERDP_ERROR_CONNECT_ACCOUNT_LOCKED_OUT:
    case FREERDP_ERROR_CONNECT_ACCOUNT_EXPIRED:
    case FREERDP_ERROR_CONNECT_LOGON_TYPE_NOT_GRANTED:
        cause = QStringLiteral("账户不可用");
        break;
    case FREERDP_ERROR_CONNECT_PASSWORD_EXPIRED:
    case FREERDP_ERROR_CONNECT_PASSWORD_CERTAINLY_EXPIRED:
    case FREERDP_ERROR_CONNECT_PASSWORD_MUST_CHANGE:
        cause = QStringLiteral("密码已过期");
        break;
    case FREERDP_ERROR_CONNECT_TRANSPORT_FAILED:
        if (wasConnected)
            cause = QStringLiteral("连接已中断");
        else if (refused || logText.contains(QLatin1String("refused"), Qt::CaseInsensitive))
            cause = QStringLiteral("连接被拒绝");
        else if (state == QLatin1String("CONNECTION_STATE_NLA")
                 || logText.contains(QLatin1String("nla"), Qt::CaseInsensitive)
                 || logText.contains(QLatin1String("authenticat"), Qt::CaseInsensitive)
                 || logText.contains(QLatin1String("credssp"), Qt::CaseInsensitive))
            cause = QStringLiteral("身份验证失败:用户名或密码错误");
        else
            cause = QStringLiteral("连接失败");
        break;
    default:
        cause = wasConnected ? QStringLiteral("连接已中断") : QStringLiteral("连接失败");
        break;
    }
    if (const char *name = freerdp_get_last_error_name(error))
        cause += QStringLiteral(" (%1)").arg(QString::fromLatin1(name));
    return cause;
}

// ---- library callbacks (worker thread) ------------------------------------------

Core &CoreOf(rdpContext *context) { return *reinterpret_cast<ClientContext *>(context)->core; }
Core &CoreOf(freerdp *instance) { return CoreOf(instance->context); }

BOOL OnEndPaint(rdpContext *context)
{
    rdpGdi *gdi = context->gdi;
    HGDI_WND hwnd = gdi->primary->hdc->hwnd;
    if (hwnd->invalid->null)
        return TRUE;
    Core &core = CoreOf(context);
    bool post = false;
    {
        std::lock_guard guard(core.frame.Lock);
        QImage &image = core.frame.Image;
        if (image.width() != int(gdi->width) || image.height() != int(gdi->height))
            image = QImage(int(gdi->width), int(gdi->height), QImage::Format_RGB32);
        const QRect bounds = image.rect();
        for (int i = 0; i < hwnd->ninvalid; ++i) {
            const GDI_RGN &r = hwnd->cinvalid[i];
            const QRect rect = QRect(r.x, r.y, r.w, r.h).intersected(bounds);
            if (rect.isEmpty())
                continue;
            const size_t bytes = size_t(rect.width()) * 4;
            for (int y = rect.top(); y <= rect.bottom(); ++y)
                std::memcpy(image.scanLine(y) + size_t(rect.left()) * 4,
                            gdi->primary_buffer + size_t(y) * gdi->stride + size_t(rect.left()) * 4, bytes);
            core.frame.Dirty += rect;
        }
        if (!core.frame.UpdatePending && !core.frame.Dirty.isEmpty()) {
            core.frame.UpdatePending = true;
            post = true;
        }
    }
    hwnd->invalid->null = TRUE;
    hwnd->ninvalid = 0;
    if (post)
        core.Post([](RdpSessionListener &l) { l.RdpFrameUpdated(); });
    return TRUE;
}

void CopyWholeFrame(Core &core, rdpGdi *gdi)
{
    std::lock_guard guard(core.frame.Lock);
    QImage &image = core.frame.Image;
    image = QImage(int(gdi->width), int(gdi->height), QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(image.scanLine(y), gdi->primary_buffer + size_t(y) * gdi->stride, size_t(image.width()) * 4);
    core.frame.Dirty = image.rect();
}

BOOL OnDesktopResize(rdpContext *context)
{
    rdpSettings *settings = context->settings;
    const int width = int(freerdp_settings_get_uint32(settings, FreeRDP_DesktopWidth));
    const int height = int(freerdp_settings_get_uint32(settings, FreeRDP_DesktopHeight));
    if (!gdi_resize(context->gdi, UINT32(width), UINT32(height)))
        return FALSE;
    Core &core = CoreOf(context);
    CopyWholeFrame(core, context->gdi);
    core.Post([width, height](RdpSessionListener &l) { l.RdpDesktopResized(width, height); });
    return TRUE;
}

BOOL OnSaveSessionInfo(rdpContext *context, UINT32 type, void *data)
{
    if ((type != INFO_TYPE_LOGON && type != INFO_TYPE_LOGON_LONG) || !data)
        return TRUE;
    const auto *info = static_cast<const logon_info *>(data);
    QString user = QString::fromUtf8(info->username ? info->username : "");
    if (info->domain && *info->domain)
        user = QString::fromUtf8(info->domain) + QLatin1Char('\\') + user;
    CoreOf(context).Post([user](RdpSessionListener &l) { l.RdpUserNameAcquired(user); });
    return TRUE;
}

int OnLogonErrorInfo(freerdp *instance, UINT32 data, UINT32 type)
{
    Q_UNUSED(data);
    if (type == LOGON_MSG_SESSION_CONTINUE)
        return 1;
    const int code = int(type);
    CoreOf(instance).Post([code](RdpSessionListener &l) { l.RdpLogonError(code); });
    return 1;
}

BOOL OnPreConnect(freerdp *instance)
{
    return freerdp_client_load_addins(instance->context->channels, instance->settings);
}

BOOL OnPostConnect(freerdp *instance)
{
    if (!gdi_init(instance, PIXEL_FORMAT_BGRX32))
        return FALSE;
    instance->update->EndPaint = OnEndPaint;
    instance->update->DesktopResize = OnDesktopResize;
    instance->update->SaveSessionInfo = OnSaveSessionInfo;
    CopyWholeFrame(CoreOf(instance), instance->context->gdi);
    return TRUE;
}

void OnPostDisconnect(freerdp *instance)
{
    gdi_free(instance);
}

BOOL OnAuthenticate(freerdp *, char **, char **, char **)
{
    return FALSE; // nothing to ask: the settings carry the credentials
}

QString Text(const char *s) { return QString::fromUtf8(s ? s : ""); }

DWORD AskCertificate(Core &core, const RdpCertificateQuestion &question)
{
    {
        std::lock_guard guard(core.certLock);
        core.certAnswer.reset();
    }
    std::weak_ptr<Core> weak = core.weak_from_this();
    core.Post([question, weak](RdpSessionListener &l) {
        l.RdpVerifyCertificate(question, [weak](RdpCertificateAnswer answer) {
            if (auto self = weak.lock()) {
                std::lock_guard guard(self->certLock);
                self->certAnswer = answer;
                self->certChanged.notify_all();
            }
        });
    });
    std::unique_lock guard(core.certLock);
    core.certChanged.wait(guard, [&] { return core.certAnswer.has_value() || core.cancelled.load(); });
    if (!core.certAnswer || core.cancelled)
        return 0;
    switch (*core.certAnswer) {
    case RdpCertificateAnswer::TrustAndRemember:
        return 1;
    case RdpCertificateAnswer::TrustOnce:
        return 2;
    case RdpCertificateAnswer::Reject:
        break;
    }
    return 0;
}

DWORD OnVerifyCertificate(freerdp *instance, const char *host, UINT16 port, const char *commonName,
                          const char *subject, const char *issuer, const char *fingerprint, DWORD)
{
    RdpCertificateQuestion q;
    q.Host = Text(host);
    q.Port = port;
    q.CommonName = Text(commonName);
    q.Subject = Text(subject);
    q.Issuer = Text(issuer);
    q.Fingerprint = Text(fingerprint);
    return AskCertificate(CoreOf(instance), q);
}

DWORD OnVerifyChangedCertificate(freerdp *instance, const char *host, UINT16 port, const char *commonName,
                                 const char *subject, const char *issuer, const char *fingerprint,
                                 const char *oldSubject, const char *oldIssuer, const char *oldFingerprint,
                                 DWORD)
{
    RdpCertificateQuestion q;
    q.Host = Text(host);
    q.Port = port;
    q.CommonName = Text(commonName);
    q.Subject = Text(subject);
    q.Issuer = Text(issuer);
    q.Fingerprint = Text(fingerprint);
    q.Changed = true;
    q.OldSubject = Text(oldSubject);
    q.OldIssuer = Text(oldIssuer);
    q.OldFingerprint = Text(oldFingerprint);
    return AskCertificate(CoreOf(instance), q);
}

BOOL OnClientNew(freerdp *instance, rdpContext *)
{
    instance->PreConnect = OnPreConnect;
    instance->PostConnect = OnPostConnect;
    instance->PostDisconnect = OnPostDisconnect;
    instance->Authenticate = OnAuthenticate;
    instance->GatewayAuthenticate = OnAuthenticate;
    instance->VerifyCertificateEx = OnVerifyCertificate;
    instance->VerifyChangedCertificateEx = OnVerifyChangedCertificate;
    instance->LogonErrorInfo = OnLogonErrorInfo;
    return TRUE;
}

// ---- the worker ---------------------------------------------------------------

bool ApplySettings(rdpSettings *s, const RdpConnectParams &p)
{
    const QByteArray host = p.Host.toUtf8();
    const QByteArray domain = p.Domain.toUtf8();
    const QByteArray user = p.User.toUtf8();
    QByteArray password = p.Password.toUtf8();
    const QByteArray store = p.CertificateStore.toUtf8();
    bool ok = freerdp_settings_set_string(s, FreeRDP_ServerHostname, host.constData())
        && freerdp_settings_set_uint32(s, FreeRDP_ServerPort, UINT32(p.Port))
        && freerdp_settings_set_string(s, FreeRDP_Domain, domain.isEmpty() ? nullptr : domain.constData())
        && freerdp_settings_set_string(s, FreeRDP_Username, user.isEmpty() ? nullptr : user.constData())
        && freerdp_settings_set_string(s, FreeRDP_Password, password.isEmpty() ? nullptr : password.constData())
        && freerdp_settings_set_bool(s, FreeRDP_AutoLogonEnabled, !password.isEmpty())
        && freerdp_settings_set_uint32(s, FreeRDP_DesktopWidth, UINT32(p.Width))
        && freerdp_settings_set_uint32(s, FreeRDP_DesktopHeight, UINT32(p.Height))
        && freerdp_settings_set_uint32(s, FreeRDP_ColorDepth, UINT32(p.ColorDepth))
        && freerdp_settings_set_bool(s, FreeRDP_SoftwareGdi, TRUE)
        && freerdp_settings_set_bool(s, FreeRDP_SupportGraphicsPipeline, FALSE)
        && freerdp_settings_set_uint32(s, FreeRDP_KeyboardLayout, 0x409)
        && freerdp_settings_set_bool(s, FreeRDP_IgnoreCertificate, FALSE)
        && freerdp_settings_set_bool(s, FreeRDP_AutoAcceptCertificate, FALSE)
        && freerdp_settings_set_string(s, FreeRDP_ConfigPath, store.constData());
    password.fill('\0');
    return ok;
}

void Pump(Core &core, freerdp *instance)
{
    rdpContext *context = instance->context;
    HANDLE handles[MAXIMUM_WAIT_OBJECTS] = {};
    while (!freerdp_shall_disconnect(instance) && !core.cancelled && !core.disconnectRequested) {
        DWORD count = freerdp_get_event_handles(context, handles, MAXIMUM_WAIT_OBJECTS - 2);
        if (count == 0)
            break;
        handles[count++] = core.inputEvent;
        handles[count++] = context->abortEvent;
        const DWORD status = WaitForMultipleObjects(count, handles, FALSE, 250);
        if (status == WAIT_FAILED)
            break;
        std::deque<InputEvent> pending;
        {
            std::lock_guard guard(core.lock);
            pending.swap(core.input);
            ResetEvent(core.inputEvent);
        }
        for (const InputEvent &e : pending) {
            switch (e.kind) {
            case InputEvent::Key:
                freerdp_input_send_keyboard_event_ex(instance->input, e.flags != 0, e.code);
                break;
            case InputEvent::Pause:
                freerdp_input_send_keyboard_pause_event(instance->input);
                break;
            case InputEvent::Mouse:
                freerdp_input_send_mouse_event(instance->input, e.flags, UINT16(e.x), UINT16(e.y));
                break;
            case InputEvent::ExtendedMouse:
                freerdp_input_send_extended_mouse_event(instance->input, e.flags, UINT16(e.x), UINT16(e.y));
                break;
            }
        }
        if (!freerdp_check_event_handles(context))
            break;
    }
}

void FinishWorker()
{
    std::lock_guard guard(g_workersLock);
    std::erase_if(g_workers, [](const std::weak_ptr<Core> &w) {
        auto core = w.lock();
        return !core || core->finished;
    });
    g_workersDone.notify_all();
}

void RunWorker(std::shared_ptr<Core> core)
{
    t_core = core.get();
    RDP_CLIENT_ENTRY_POINTS entry{};
    entry.Size = sizeof(entry);
    entry.Version = RDP_CLIENT_INTERFACE_VERSION;
    entry.ContextSize = sizeof(ClientContext);
    entry.ClientNew = OnClientNew;

    rdpContext *context = freerdp_client_context_new(&entry);
    if (!context || !ApplySettings(context->settings, core->params)) {
        if (context)
            freerdp_client_context_free(context);
        core->Post([](RdpSessionListener &l) { l.RdpFatalError(1, QStringLiteral("无法初始化远程桌面组件")); });
        core->finished = true;
        FinishWorker();
        return;
    }
    reinterpret_cast<ClientContext *>(context)->core = core.get();
    freerdp *instance = context->instance;
    {
        std::lock_guard guard(core->lock);
        core->instance = instance;
    }

    const bool up = !core->cancelled && freerdp_connect(instance) && !core->cancelled;
    if (up) {
        core->connected = 1;
        core->Post([](RdpSessionListener &l) { l.RdpConnected(); });
        Pump(*core, instance);
    }

    RdpDisconnectInfo info;
    info.ServerReason = int(freerdp_error_info(instance));
    info.ClientError = freerdp_get_last_error(context);
    if (core->disconnectRequested && info.ServerReason == 0) {
        info.ServerReason = 1; // ended by our own request
        info.ClientError = 0;
    } else {
        bool refused = false;
        if (!up && (info.ClientError == FREERDP_ERROR_CONNECT_TRANSPORT_FAILED
                    || info.ClientError == FREERDP_ERROR_CONNECT_FAILED) && !core->cancelled) {
            std::optional<sockaddr_storage> peer;
            {
                std::lock_guard guard(core->lock);
                if (!core->sockets.empty())
                    peer = core->sockets.front().peer;
            }
            t_core = nullptr;
            refused = peer && PortRefuses(*peer);
            t_core = core.get();
        }
        info.Cause = DescribeClientError(info.ClientError, up, refused, core->connectionState, core->lastLogError);
    }
    if (up)
        freerdp_disconnect(instance);
    core->connected = 0;
    {
        std::lock_guard guard(core->lock);
        core->instance = nullptr;
    }
    freerdp_client_context_free(context);
    core->Post([info](RdpSessionListener &l) { l.RdpDisconnected(info); });
    core->finished = true;
    t_core = nullptr;
    FinishWorker();
}

class FreeRdpSession final : public RdpSession {
public:
    FreeRdpSession(RdpSessionListener *listener, QObject *context) : core_(std::make_shared<Core>())
    {
        core_->listener = listener;
        core_->context = context;
    }

    ~FreeRdpSession() override
    {
        Cancel();
        {
            std::lock_guard guard(core_->lock);
            core_->context = nullptr;
            core_->listener = nullptr;
        }
        // A worker that is still inside the library gets a little time to leave;
        // one that does not is left to end on its own (it owns what it uses).
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
        while (started_ && !core_->finished && std::chrono::steady_clock::now() < deadline) {
            core_->AbortHard();
            std::unique_lock guard(g_workersLock);
            g_workersDone.wait_for(guard, std::chrono::milliseconds(20));
        }
    }

    void Start(const RdpConnectParams &params) override
    {
        if (started_)
            return;
        RouteLibraryLog();
        started_ = true;
        core_->params = params;
        {
            std::lock_guard guard(g_workersLock);
            g_workers.push_back(core_);
        }
        std::thread(RunWorker, core_).detach();
    }

    int Connected() const override { return core_->connected; }

    void Disconnect() override
    {
        core_->disconnectRequested = true;
        std::lock_guard guard(core_->lock);
        if (core_->instance)
            freerdp_abort_connect(core_->instance);
    }

    void Cancel() override
    {
        if (core_->cancelled.exchange(true))
            return;
        {
            std::lock_guard guard(core_->certLock);
            core_->certChanged.notify_all();
        }
        core_->AbortHard();
    }

    RdpFrameBuffer &Frame() override { return core_->frame; }

    void SendKey(bool down, uint32_t scanCode) override
    {
        core_->Enqueue({InputEvent::Key, uint16_t(down ? 1 : 0), scanCode});
    }
    void SendPause() override { core_->Enqueue({InputEvent::Pause}); }
    void SendMouse(uint16_t flags, int x, int y) override { core_->Enqueue({InputEvent::Mouse, flags, 0, x, y}); }
    void SendExtendedMouse(uint16_t flags, int x, int y) override
    {
        core_->Enqueue({InputEvent::ExtendedMouse, flags, 0, x, y});
    }

private:
    std::shared_ptr<Core> core_;
    bool started_ = false;
};

} // namespace

// Every connect() of the program passes through here; those made by a session's
// worker are noted for that session.
extern "C" int connect(int fd, const sockaddr *address, socklen_t length)
{
    using Connect = int (*)(int, const sockaddr *, socklen_t);
    static const Connect next = reinterpret_cast<Connect>(dlsym(RTLD_NEXT, "connect"));
    const int result = next(fd, address, length);
    const int saved = errno;
    if (t_core && address && (address->sa_family == AF_INET || address->sa_family == AF_INET6))
        t_core->RecordSocket(fd, address, length);
    errno = saved;
    return result;
}

std::unique_ptr<RdpSession> CreateRdpSession(RdpSessionListener *listener, QObject *context)
{
    return std::make_unique<FreeRdpSession>(listener, context);
}

int RdpWorkerCount()
{
    std::lock_guard guard(g_workersLock);
    return int(std::count_if(g_workers.begin(), g_workers.end(), [](const std::weak_ptr<Core> &w) {
        auto core = w.lock();
        return core && !core->finished;
    }));
}

bool WaitForRdpWorkers(int milliseconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        std::vector<std::shared_ptr<Core>> live;
        {
            std::lock_guard guard(g_workersLock);
            for (auto &w : g_workers)
                if (auto core = w.lock(); core && !core->finished)
                    live.push_back(core);
        }
        if (live.empty())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        for (auto &core : live)
            if (core->cancelled)
                core->AbortHard();
        live.clear();
        std::unique_lock guard(g_workersLock);
        g_workersDone.wait_for(guard, std::chrono::milliseconds(20));
    }
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
