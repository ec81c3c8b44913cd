// The remote desktop connection on libfreerdp 2: the worker thread and the
// library's callbacks, which all run on it (or on a channel's thread).
#include "RdpWorker.h"

#include "RdpCertificateStore.h"
#include "RdpEndCause.h"
#include "RdpLibrary.h"
#include "RdpReconnectPolicy.h"
#include "RdpSharedBuffer.h"
#include "ServerAddress.h"

#include <freerdp/client.h>
#include <freerdp/client/channels.h>
#include <freerdp/client/cmdline.h>
#include <freerdp/client/cliprdr.h>
#include <freerdp/client/disp.h>
#include <freerdp/client/rdpgfx.h>
#include <freerdp/error.h>
#include <freerdp/event.h>
#include <freerdp/freerdp.h>
#include <freerdp/gdi/gdi.h>
#include <freerdp/input.h>
#include <freerdp/session.h>
#include <freerdp/settings.h>
#include <winpr/synch.h>

#include <chrono>
#include <pthread.h>
#include <cstdlib>
#include <cstring>

namespace {

// The context the library allocates for each session: plain data ending in a
// pointer back to our state.
struct ClientContext {
    rdpClientContext common;
    RdpCore *core;
    BOOL(*gdiBeginPaint)
    (rdpContext *); // the GDI's own
};

// What the worker learns along the way, for the cause of the end.
struct WorkerNotes {
    RdpLogCapture log;
    bool certificateRefused = false;
};

// What the worker alone knows and decides: the user's commands as they came,
// and the desktop sizes asked for.
struct WorkerState {
    WorkerNotes notes;
    bool disconnectRequested = false;
    bool giveUpRequested = false;
    std::optional<RdpCertificateAnswer> certificateAnswer;
    // The desktop size last asked of the server on the display control channel,
    // and when (steady-clock milliseconds; 0 once the server has resized, or
    // before any request). A size to take the session up again at, when the
    // session asked for that.
    QSize sizeAsked;
    qint64 sizeAskedAtMs = 0;
    QSize reconnectAtSize;
};
thread_local WorkerState *t_state = nullptr;

RdpCore &CoreOf(rdpContext *context) { return *reinterpret_cast<ClientContext *>(context)->core; }
RdpCore &CoreOf(freerdp *instance) { return CoreOf(instance->context); }

// How long after a request for another desktop size an end of the connection
// counts as the server's answer to it.
constexpr qint64 SizeAnswerMs = 5000;

// The colour depth the server agreed to: the library takes the server's in the
// capability exchange, at every (re)activation.
void NoteColorDepth(rdpContext *context)
{
    CoreOf(context).SetColorDepth(int(freerdp_settings_get_uint32(context->settings, FreeRDP_ColorDepth)));
}

qint64 NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

RdpGraphics &GraphicsOf(rdpContext *context) { return CoreOf(context).graphics; }

namespace {

// ---- frames ---------------------------------------------------------------------

// The library draws into its buffer only between BeginPaint and EndPaint (from
// the worker, and with the graphics pipeline from its channel's thread), so
// the session may show that buffer itself while no drawing is under way: the
// frame's lock is held from the one to the other.
BOOL OnBeginPaint(rdpContext *context)
{
    CoreOf(context).frame.BeginDrawing();
    const auto gdiBeginPaint = reinterpret_cast<ClientContext *>(context)->gdiBeginPaint;
    return gdiBeginPaint ? gdiBeginPaint(context) : TRUE;
}

// The regions painted go to the session with the report of the change; one
// report waits at a time, and what changes meanwhile joins it.
BOOL OnEndPaint(rdpContext *context)
{
    RdpCore &core = CoreOf(context);
    QRegion changed;
    HGDI_WND hwnd = context->gdi->primary->hdc->hwnd;
    if (!hwnd->invalid->null) {
        for (int i = 0; i < hwnd->ninvalid; ++i) {
            const GDI_RGN &r = hwnd->cinvalid[i];
            changed += QRect(r.x, r.y, r.w, r.h);
        }
        hwnd->invalid->null = TRUE;
        hwnd->ninvalid = 0;
    }
    if (core.frame.EndDrawing(changed)) {
        std::weak_ptr<RdpCore> weak = core.weak_from_this();
        core.Post([weak](RdpSessionEvents &s) {
            if (auto self = weak.lock()) {
                auto [region, size] = self->frame.TakeChanged();
                s.FrameUpdated(region, size);
            }
        });
    }
    return TRUE;
}

// The library draws into a buffer of ours in shared memory, which the X server
// can show without a copy; where the system gives no segment, into its own.
// The picture's sides are the server's to choose: beyond these no segment is made.
constexpr UINT32 MaxSharedSide = 8192;

struct DrawingBuffer {
    RdpSharedBuffer::Buffer shared;
    UINT32 stride = 0;
};

DrawingBuffer NewDrawingBuffer(UINT32 width, UINT32 height)
{
    if (width == 0 || height == 0 || width > MaxSharedSide || height > MaxSharedSide)
        return {};
    const UINT32 stride = width * 4;
    return {RdpSharedBuffer::Allocate(std::size_t(stride) * height), stride};
}

void ShowBuffer(RdpCore &core, const rdpGdi *gdi, int segment)
{
    core.frame.SetBuffer(gdi->primary_buffer, QSize(int(gdi->width), int(gdi->height)), int(gdi->stride),
                         segment);
}

// A new size gets a new buffer; the library frees the old one with its bitmap.
bool ResizeDrawing(rdpGdi *gdi, UINT32 width, UINT32 height, int *segment)
{
    if (UINT32(gdi->width) == width && UINT32(gdi->height) == height)
        return gdi_resize(gdi, width, height);
    const DrawingBuffer buffer = NewDrawingBuffer(width, height);
    *segment = buffer.shared.segment;
    if (!buffer.shared.pixels)
        return gdi_resize(gdi, width, height);
    return gdi_resize_ex(gdi, width, height, buffer.stride, gdi->dstFormat, buffer.shared.pixels,
                         RdpSharedBuffer::Free);
}

BOOL OnDesktopResize(rdpContext *context)
{
    rdpSettings *settings = context->settings;
    const int width = int(freerdp_settings_get_uint32(settings, FreeRDP_DesktopWidth));
    const int height = int(freerdp_settings_get_uint32(settings, FreeRDP_DesktopHeight));
    RdpCore &core = CoreOf(context);
    // The buffer is made anew: nothing may show it meanwhile.
    core.frame.BeginDrawing();
    int segment = core.frame.Segment();
    const bool resized = ResizeDrawing(context->gdi, UINT32(width), UINT32(height), &segment);
    ShowBuffer(core, context->gdi, resized ? segment : -1);
    core.frame.EndDrawing({});
    if (!resized)
        return FALSE;
    NoteColorDepth(context);
    core.Post([width, height](RdpSessionEvents &s) { s.DesktopResized(width, height); });
    return TRUE;
}

// ---- session events ---------------------------------------------------------------

BOOL OnSaveSessionInfo(rdpContext *context, UINT32 type, void *data)
{
    if ((type != INFO_TYPE_LOGON && type != INFO_TYPE_LOGON_LONG) || !data)
        return TRUE;
    const auto *info = static_cast<const logon_info *>(data);
    QString user = QString::fromUtf8(info->username ? info->username : "");
    if (info->domain && *info->domain)
        user = QString::fromUtf8(info->domain) + QLatin1Char('\\') + user;
    CoreOf(context).Post([user](RdpSessionEvents &s) { s.UserNameAcquired(user); });
    return TRUE;
}

int OnLogonErrorInfo(freerdp *instance, UINT32 data, UINT32 type)
{
    Q_UNUSED(data);
    if (type == LOGON_MSG_SESSION_CONTINUE)
        return 1;
    const int code = int(type);
    CoreOf(instance).Post([code](RdpSessionEvents &s) { s.LogonError(code); });
    return 1;
}

// ---- channels ------------------------------------------------------------------------

void OnChannelConnected(void *context, ChannelConnectedEventArgs *e)
{
    if (std::strcmp(e->name, CLIPRDR_SVC_CHANNEL_NAME) == 0)
        CoreOf(static_cast<rdpContext *>(context)).clipboard.Attach(static_cast<CliprdrClientContext *>(e->pInterface));
    auto *rdp = static_cast<rdpContext *>(context);
    if (std::strcmp(e->name, RDPGFX_DVC_CHANNEL_NAME) == 0)
        CoreOf(rdp).graphics.Attach(rdp, static_cast<RdpgfxClientContext *>(e->pInterface));
    else if (std::strcmp(e->name, DISP_DVC_CHANNEL_NAME) == 0)
        CoreOf(rdp).display.Attach(static_cast<DispClientContext *>(e->pInterface));
}

void OnChannelDisconnected(void *context, ChannelDisconnectedEventArgs *e)
{
    if (std::strcmp(e->name, CLIPRDR_SVC_CHANNEL_NAME) == 0)
        CoreOf(static_cast<rdpContext *>(context))
            .clipboard.Detach(static_cast<CliprdrClientContext *>(e->pInterface));
    auto *rdp = static_cast<rdpContext *>(context);
    if (std::strcmp(e->name, RDPGFX_DVC_CHANNEL_NAME) == 0)
        CoreOf(rdp).graphics.Detach(rdp, static_cast<RdpgfxClientContext *>(e->pInterface));
    else if (std::strcmp(e->name, DISP_DVC_CHANNEL_NAME) == 0)
        CoreOf(rdp).display.Detach(static_cast<DispClientContext *>(e->pInterface));
}

// ---- connection callbacks ---------------------------------------------------------------

BOOL OnPreConnect(freerdp *instance)
{
    // A cancel that came before the library reset its abort event is seen here.
    if (CoreOf(instance).Cancelled())
        return FALSE;
    rdpContext *context = instance->context;
    PubSub_SubscribeChannelConnected(context->pubSub, OnChannelConnected);
    PubSub_SubscribeChannelDisconnected(context->pubSub, OnChannelDisconnected);
    return freerdp_client_load_addins(context->channels, instance->settings);
}

BOOL OnPostConnect(freerdp *instance)
{
    const rdpSettings *settings = instance->settings;
    const DrawingBuffer buffer = NewDrawingBuffer(freerdp_settings_get_uint32(settings, FreeRDP_DesktopWidth),
                                                  freerdp_settings_get_uint32(settings, FreeRDP_DesktopHeight));
    if (buffer.shared.pixels) {
        if (!gdi_init_ex(instance, PIXEL_FORMAT_BGRX32, buffer.stride, buffer.shared.pixels, RdpSharedBuffer::Free))
            return FALSE;
    } else if (!gdi_init(instance, PIXEL_FORMAT_BGRX32)) {
        return FALSE;
    }
    ShowBuffer(CoreOf(instance), instance->context->gdi, buffer.shared.segment);
    reinterpret_cast<ClientContext *>(instance->context)->gdiBeginPaint = instance->update->BeginPaint;
    instance->update->BeginPaint = OnBeginPaint;
    instance->update->EndPaint = OnEndPaint;
    instance->update->DesktopResize = OnDesktopResize;
    instance->update->SaveSessionInfo = OnSaveSessionInfo;
    CoreOf(instance).graphics.Hook(instance->context);
    return TRUE;
}

void OnPostDisconnect(freerdp *instance)
{
    PubSub_UnsubscribeChannelConnected(instance->context->pubSub, OnChannelConnected);
    PubSub_UnsubscribeChannelDisconnected(instance->context->pubSub, OnChannelDisconnected);
    CoreOf(instance).frame.KeepLastPicture();
    gdi_free(instance);
}

BOOL OnAuthenticate(freerdp *, char **, char **, char **)
{
    return FALSE; // nothing to ask: the settings carry the credentials
}

// ---- commands ---------------------------------------------------------------------------

void Deliver(freerdp *instance, RdpCore &core, WorkerState &state, const RdpInput &e)
{
    switch (e.kind) {
    case RdpInput::Key:
        freerdp_input_send_keyboard_event_ex(instance->input, e.flags != 0, e.code);
        break;
    case RdpInput::Unicode:
        freerdp_input_send_unicode_keyboard_event(instance->input, e.flags ? 0 : KBD_FLAGS_RELEASE,
                                                  UINT16(e.code));
        break;
    case RdpInput::Pause:
        freerdp_input_send_keyboard_pause_event(instance->input);
        break;
    case RdpInput::Mouse:
        freerdp_input_send_mouse_event(instance->input, e.flags, UINT16(e.x), UINT16(e.y));
        break;
    case RdpInput::ExtendedMouse:
        freerdp_input_send_extended_mouse_event(instance->input, e.flags, UINT16(e.x), UINT16(e.y));
        break;
    case RdpInput::ClipboardChanged:
        core.clipboard.OfferLocal();
        break;
    case RdpInput::DesktopSize:
        if (core.display.Request(QSize(e.x, e.y))) {
            state.sizeAsked = RdpDisplayControl::Acceptable(QSize(e.x, e.y));
            state.sizeAskedAtMs = NowMs();
        }
        break;
    case RdpInput::DesktopSizeByReconnect:
        state.reconnectAtSize = RdpDisplayControl::Acceptable(QSize(e.x, e.y));
        break;
    }
}

// Takes in what the user asked for meanwhile; input goes to the server while
// a connection is up (instance given), and is dropped otherwise.
void ApplyCommands(RdpCore &core, WorkerState &state, freerdp *instance)
{
    for (const RdpCommand &command : core.commands.Take()) {
        switch (command.kind) {
        case RdpCommand::Input:
            if (instance && core.Connected())
                Deliver(instance, core, state, command.input);
            break;
        case RdpCommand::Disconnect:
            state.disconnectRequested = true;
            break;
        case RdpCommand::GiveUp:
            state.giveUpRequested = state.giveUpRequested || core.Reconnecting();
            break;
        case RdpCommand::Certificate:
            state.certificateAnswer = command.answer;
            break;
        }
    }
}

bool UserEnded(const RdpCore &core, const WorkerState &state)
{
    return core.Cancelled() || state.disconnectRequested || state.giveUpRequested;
}

// ---- certificates ---------------------------------------------------------------------------

QString Text(const char *s) { return QString::fromUtf8(s ? s : ""); }

DWORD AskCertificate(RdpCore &core, const RdpCertificateQuestion &question)
{
    WorkerState &state = *t_state;
    state.certificateAnswer.reset();
    core.Post([question](RdpSessionEvents &s) { s.CertificateQuestion(question); });
    for (ApplyCommands(core, state, nullptr); !state.certificateAnswer && !UserEnded(core, state);
         ApplyCommands(core, state, nullptr))
        core.commands.Wait(std::chrono::steady_clock::now() + std::chrono::hours(1));
    const RdpCertificateAnswer answer = UserEnded(core, state)
        ? RdpCertificateAnswer::Reject
        : state.certificateAnswer.value_or(RdpCertificateAnswer::Reject);
    switch (answer) {
    case RdpCertificateAnswer::TrustAndRemember:
        return 1;
    case RdpCertificateAnswer::TrustOnce:
        return 2;
    case RdpCertificateAnswer::Reject:
        break;
    }
    if (!UserEnded(core, state))
        state.notes.certificateRefused = true;
    return 0;
}

RdpCertificateQuestion Question(const char *host, UINT16 port, const char *commonName, const char *subject,
                                const char *issuer, const char *fingerprint, DWORD flags)
{
    RdpCertificateQuestion q;
    q.Host = Text(host);
    q.Port = port;
    q.CommonName = Text(commonName);
    q.Subject = Text(subject);
    q.Issuer = Text(issuer);
    q.Fingerprint = Text(fingerprint);
    q.NameMismatch = (flags & VERIFY_CERT_FLAG_MISMATCH) != 0;
    q.SelfSigned = !q.Subject.isEmpty() && q.Subject == q.Issuer;
    return q;
}

DWORD OnVerifyCertificate(freerdp *instance, const char *host, UINT16 port, const char *commonName,
                          const char *subject, const char *issuer, const char *fingerprint, DWORD flags)
{
    return AskCertificate(CoreOf(instance), Question(host, port, commonName, subject, issuer, fingerprint, flags));
}

DWORD OnVerifyChangedCertificate(freerdp *instance, const char *host, UINT16 port, const char *commonName,
                                 const char *subject, const char *issuer, const char *fingerprint,
                                 const char *oldSubject, const char *oldIssuer, const char *oldFingerprint,
                                 DWORD flags)
{
    RdpCertificateQuestion q = Question(host, port, commonName, subject, issuer, fingerprint, flags);
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

bool ApplySettings(rdpSettings *s, const RdpConnectParams &p, const QByteArray &relay)
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
        && RdpGraphics::Apply(s, p.GraphicsPipeline, p.GraphicsAvc444, p.ColorDepth)
        && RdpDisplayControl::Apply(s, p.DynamicResolution)
        // Servers send orders they did not announce (xrdp's colour table at 8 bpp).
        && freerdp_settings_set_bool(s, FreeRDP_AllowUnanouncedOrdersFromServer, TRUE)
        && freerdp_settings_set_uint32(s, FreeRDP_KeyboardLayout, p.KeyboardLayout)
        && freerdp_settings_set_bool(s, FreeRDP_UnicodeInput, TRUE)
        // Only the channels that something here serves: the clipboard.
        && freerdp_settings_set_bool(s, FreeRDP_RedirectClipboard, p.RedirectClipboard)
        && freerdp_settings_set_bool(s, FreeRDP_DeviceRedirection, FALSE)
        && freerdp_settings_set_bool(s, FreeRDP_AudioPlayback, FALSE)
        && freerdp_settings_set_bool(s, FreeRDP_NetworkAutoDetect, FALSE)
        && freerdp_settings_set_bool(s, FreeRDP_SupportHeartbeatPdu, FALSE)
        && freerdp_settings_set_bool(s, FreeRDP_SupportMultitransport, FALSE)
        // The server may then give a cookie that lets a reconnect take up the session.
        && freerdp_settings_set_bool(s, FreeRDP_AutoReconnectionEnabled, p.Reconnect.Enabled)
        && freerdp_settings_set_bool(s, FreeRDP_IgnoreCertificate, FALSE)
        && freerdp_settings_set_bool(s, FreeRDP_AutoAcceptCertificate, FALSE)
        && freerdp_settings_set_string(s, FreeRDP_ConfigPath, store.constData())
        // The program's own connection to the server, reached as a proxy.
        && freerdp_settings_set_uint32(s, FreeRDP_ProxyType, PROXY_TYPE_HTTP)
        && freerdp_settings_set_string(s, FreeRDP_ProxyHostname, relay.constData())
        && freerdp_settings_set_uint16(s, FreeRDP_ProxyPort, 1);
    password.fill('\0');
    return ok;
}

void Pump(RdpCore &core, WorkerState &state, freerdp *instance)
{
    rdpContext *context = instance->context;
    HANDLE handles[MAXIMUM_WAIT_OBJECTS] = {};
    while (!freerdp_shall_disconnect(instance) && !UserEnded(core, state) && state.reconnectAtSize.isEmpty()) {
        DWORD count = freerdp_get_event_handles(context, handles, MAXIMUM_WAIT_OBJECTS - 2);
        if (count == 0)
            break;
        handles[count++] = core.commands.Event();
        handles[count++] = context->abortEvent;
        if (WaitForMultipleObjects(count, handles, FALSE, 250) == WAIT_FAILED)
            break;
        ApplyCommands(core, state, instance);
        // An end asked for wins over whatever else is waiting.
        if (UserEnded(core, state))
            break;
        if (!freerdp_check_event_handles(context))
            break;
    }
    // An end asked for may have stopped the loop before it was taken in.
    ApplyCommands(core, state, nullptr);
}

// A variable that would lead the library around the relay, set again since the
// library was prepared; nullptr when none is.
const char *RelayBypassVariable()
{
    for (const char *name : RdpBypassVariables)
        if (const char *value = std::getenv(name); value && *value)
            return name;
    return nullptr;
}

void ReportFatal(RdpCore &core, int code, const QString &cause)
{
    core.Post([code, cause](RdpSessionEvents &s) { s.FatalError(code, cause); });
}

// What is known of the end of a connection or of an attempt to make one.
RdpEndFacts EndFacts(RdpCore &core, const WorkerNotes &notes, freerdp *instance, bool wasConnected)
{
    RdpEndFacts facts;
    facts.ErrorInfo = freerdp_error_info(instance);
    facts.ClientError = freerdp_get_last_error(instance->context);
    facts.WasConnected = wasConnected;
    facts.CertificateRefused = notes.certificateRefused;
    facts.Connect = core.relay.Failure();
    facts.Link = core.relay.LinkEnd();
    facts.State = notes.log.State;
    facts.LogText = notes.log.LastError;
    return facts;
}

RdpDisconnectInfo EndInfo(const WorkerState &state, const RdpEndFacts &facts)
{
    RdpDisconnectInfo info;
    info.ServerReason = int(facts.ErrorInfo);
    info.ClientError = facts.ClientError;
    if (state.disconnectRequested && info.ServerReason == 0) {
        info.ServerReason = 1; // ended by our own request
        info.ClientError = 0;
    } else {
        info.Cause = RdpEndCause(facts);
    }
    return info;
}

// The size to take the session up again at, if it ended for one: the session
// asked for that, or the server ended the connection soon after a request for
// another size, which it thus cannot take while connected. Taken once.
QSize SizeToReconnectAt(RdpCore &core, WorkerState &state)
{
    QSize size;
    std::swap(size, state.reconnectAtSize);
    const qint64 askedAt = std::exchange(state.sizeAskedAtMs, 0);
    if (size.isEmpty() && askedAt != 0 && NowMs() - askedAt <= SizeAnswerMs) {
        size = state.sizeAsked;
        core.Post([](RdpSessionEvents &s) { s.DisplayControlFailed(); });
    }
    return size;
}

// After a reconnect the server may have given another desktop size than the
// one drawn so far, without the library telling: the picture follows it.
void FollowDesktopSize(rdpContext *context)
{
    const rdpGdi *gdi = context->gdi;
    if (gdi
        && (gdi->width != INT32(freerdp_settings_get_uint32(context->settings, FreeRDP_DesktopWidth))
            || gdi->height != INT32(freerdp_settings_get_uint32(context->settings, FreeRDP_DesktopHeight))))
        OnDesktopResize(context);
}

// Waits until the time or an end the user asks for; false for the latter.
bool PauseUntil(RdpCore &core, WorkerState &state, std::chrono::steady_clock::time_point at)
{
    for (;;) {
        ApplyCommands(core, state, nullptr);
        if (UserEnded(core, state))
            return false;
        if (std::chrono::steady_clock::now() >= at)
            return true;
        core.commands.Wait(at);
    }
}

// Takes a lost connection up again through the library's own reconnect, which
// keeps the session's settings and with them the server's auto-reconnect
// cookie, attempt by attempt on the schedule of the timing. True once it is up;
// otherwise last holds why the last attempt failed.
bool Reconnect(RdpCore &core, WorkerState &state, freerdp *instance, RdpEndFacts &last, int &attempts)
{
    const RdpReconnectTiming timing = core.params.Reconnect;
    const auto lost = std::chrono::steady_clock::now();
    for (attempts = 0; attempts < timing.Tries;) {
        const RdpAttemptSlot slot = RdpReconnectSlot(timing, attempts + 1);
        if (!PauseUntil(core, state, lost + std::chrono::milliseconds(slot.StartMs)))
            return false;
        if (RelayBypassVariable())
            return false;
        const int attempt = ++attempts;
        core.Post([attempt, tries = timing.Tries](RdpSessionEvents &s) { s.ReconnectAttempt(attempt, tries); });
        state.notes = WorkerNotes();
        core.relay.BeginAttempt(slot.LimitMs, timing.HandshakeMs);
        const bool up = freerdp_reconnect(instance);
        core.relay.EndAttempt();
        ApplyCommands(core, state, nullptr);
        if (up) {
            FollowDesktopSize(instance->context);
            NoteColorDepth(instance->context);
            core.SetConnected(true);
            return !UserEnded(core, state);
        }
        last = EndFacts(core, state.notes, instance, false);
        if (UserEnded(core, state) || !RdpAttemptMayRetry(last))
            return false;
    }
    return false;
}

// Why a session that reconnected in vain ended.
RdpDisconnectInfo GaveUpInfo(const RdpCore &core, const WorkerState &state, const RdpEndFacts &last, int attempts)
{
    RdpDisconnectInfo info = EndInfo(state, last);
    if (state.disconnectRequested || core.Cancelled())
        return info;
    if (state.giveUpRequested)
        info.Cause = QStringLiteral("与服务器的网络连接中断,已放弃重新连接");
    else if (RdpAttemptMayRetry(last))
        info.Cause = QStringLiteral("与服务器的网络连接中断,%1 次重新连接均未成功 (%2)").arg(attempts).arg(info.Cause);
    return info;
}

// Runs a session that is up until it ends; a loss of the network is bridged by
// reconnecting, unseen by the session's user but for the progress it reports,
// and so is a new desktop size that the server takes only on a new connection.
RdpDisconnectInfo Serve(RdpCore &core, WorkerState &state, freerdp *instance)
{
    for (;;) {
        Pump(core, state, instance);
        const RdpEndFacts facts = EndFacts(core, state.notes, instance, true);
        if (UserEnded(core, state))
            return EndInfo(state, facts);
        if (const QSize size = SizeToReconnectAt(core, state); size.isValid()) {
            freerdp_settings_set_uint32(instance->settings, FreeRDP_DesktopWidth, UINT32(size.width()));
            freerdp_settings_set_uint32(instance->settings, FreeRDP_DesktopHeight, UINT32(size.height()));
        } else if (!core.params.Reconnect.Enabled || !RdpLossIsTransient(facts)) {
            return EndInfo(state, facts);
        }
        core.SetReconnecting(true);
        core.SetConnected(false);
        RdpEndFacts last = facts;
        int attempts = 0;
        const bool back = Reconnect(core, state, instance, last, attempts);
        core.SetReconnecting(false);
        if (!back)
            return GaveUpInfo(core, state, last, attempts);
        core.Post([](RdpSessionEvents &s) { s.Reconnected(); });
    }
}

void Connect(RdpCore &core, WorkerState &state)
{
    RDP_CLIENT_ENTRY_POINTS entry{};
    entry.Size = sizeof(entry);
    entry.Version = RDP_CLIENT_INTERFACE_VERSION;
    entry.ContextSize = sizeof(ClientContext);
    entry.ClientNew = OnClientNew;

    rdpContext *context = freerdp_client_context_new(&entry);
    if (!context || !ApplySettings(context->settings, core.params, core.relay.SocketPath())) {
        if (context)
            freerdp_client_context_free(context);
        ReportFatal(core, 1, QStringLiteral("无法初始化远程桌面组件"));
        return;
    }
    reinterpret_cast<ClientContext *>(context)->core = &core;
    freerdp *instance = context->instance;
    core.commands.SetAbortEvent(context->abortEvent);

    const bool returned = freerdp_connect(instance);
    ApplyCommands(core, state, nullptr);
    // Every connection goes through the relay: one that did not could be
    // neither limited nor cut, and is not kept.
    const bool direct = returned && core.relay.Requests() == 0;
    const bool up = returned && !core.Cancelled() && !direct;
    RdpDisconnectInfo info;
    if (up) {
        NoteColorDepth(context);
        core.SetConnected(true);
        core.Post([](RdpSessionEvents &s) { s.Connected(); });
        info = Serve(core, state, instance);
    } else {
        info = EndInfo(state, EndFacts(core, state.notes, instance, false));
        if (direct) {
            info.ServerReason = 0;
            info.Cause = QStringLiteral("连接没有经过程序的连接通道,已断开");
        }
    }
    // A connection that came up is ended properly, cancelled or not: the
    // server then keeps no session, and the library frees what it drew with.
    if (returned)
        freerdp_disconnect(instance);
    core.SetConnected(false);
    core.commands.SetAbortEvent(nullptr);
    freerdp_client_context_free(context);
    core.Post([info](RdpSessionEvents &s) { s.Ended(info); });
}

} // namespace

RdpCore::RdpCore(QObject *receiver, RdpSessionEvents *events)
    : clipboard([this](RdpClipboard::RemoteOffer offer) {
          Post([offer](RdpSessionEvents &s) { s.RemoteClipboardOffered(offer.Text, offer.Image); });
      }),
      display([this] { Post([](RdpSessionEvents &s) { s.DisplayControlReady(); }); }),
      receiver_(receiver),
      events_(events)
{
}

void RdpCore::Send(const RdpInput &input)
{
    if (connected_)
        commands.Push({RdpCommand::Input, input});
}

void RdpCore::Disconnect()
{
    commands.Push({RdpCommand::Disconnect});
    // A reconnect attempt under way is cut where it waits.
    if (reconnecting_ && !connected_)
        relay.Cancel();
}

void RdpCore::GiveUpReconnect()
{
    if (!reconnecting_)
        return;
    commands.Push({RdpCommand::GiveUp});
    if (!connected_)
        relay.Cancel();
}

void RdpCore::AnswerCertificate(RdpCertificateAnswer answer)
{
    RdpCommand command{RdpCommand::Certificate};
    command.answer = answer;
    commands.Push(command);
}

void RdpCore::Cancel()
{
    if (cancelled_.exchange(true))
        return;
    // A connection being made is cut where it waits; one that is up ends
    // through the abort, properly.
    commands.Wake();
    if (!connected_)
        relay.Cancel();
}

void RdpCore::Forget()
{
    Cancel();
    std::lock_guard guard(reportLock_);
    receiver_ = nullptr;
    events_ = nullptr;
}

void RunRdpWorker(std::shared_ptr<RdpCore> core)
{
    const RdpWorkers::Flag finished = core->Finished();
    pthread_setname_np(pthread_self(), "rdp-worker"); // for the process's thread list
    {
        WorkerState state;
        t_state = &state;
        SetRdpLogCapture(&state.notes.log);
        const QString storeError = PrepareCertificateStore(core->params.CertificateStore);
        if (!IsServerAddress(core->params.Host) || core->params.Port < 1 || core->params.Port > 65535)
            ReportFatal(*core, 4, QStringLiteral("无效的服务器地址: %1").arg(core->params.Host));
        else if (const char *variable = RelayBypassVariable())
            ReportFatal(*core, 5, QStringLiteral("环境变量 %1 会让连接绕过程序的连接通道").arg(QLatin1String(variable)));
        else if (!storeError.isEmpty())
            ReportFatal(*core, 2, storeError);
        else if (!core->relay.Start())
            ReportFatal(*core, 3, QStringLiteral("无法建立到服务器的连接通道"));
        else
            Connect(*core, state);
        core->relay.Stop();
        SetRdpLogCapture(nullptr);
        t_state = nullptr;
        core.reset();
    }
    RdpWorkers::Finished(finished);
}
