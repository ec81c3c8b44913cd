// The library's process-wide state: its log and its loggers.
#include "RdpLibrary.h"

#include "RdpRelay.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSet>

#include <winpr/wlog.h>

#include <link.h>

#include <cstdlib>

#include <mutex>

// Never destroyed, like everything a worker may still touch after the
// program's static objects have gone.
const QLoggingCategory &lcRdp()
{
    static const QLoggingCategory *category = new QLoggingCategory("brennic.rdp", QtWarningMsg);
    return *category;
}

namespace {

thread_local RdpLogCapture *t_capture = nullptr;

BOOL OnLogMessage(const wLogMessage *msg)
{
    const QString text = QString::fromUtf8(msg->TextString ? msg->TextString : "");
    if (t_capture) {
        if (msg->Level >= WLOG_ERROR)
            t_capture->LastError = text;
        // The connection's progress, to tell where a failed attempt stopped.
        if (text.startsWith(QLatin1String("rdp_client_transition_to_state"))) {
            const QString next = text.section(QLatin1String("--> "), 1).trimmed();
            if (next != QLatin1String("CONNECTION_STATE_INITIAL")) // a failure falls back to it
                t_capture->State = next;
        }
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

// The names of the library's loggers are string constants in its files. The
// files are mapped, not read: together they are some 8 MB, and a heap block of
// that size, once freed, would raise the allocator's threshold for handing large
// blocks back to the system for the rest of the process (frame buffers among them).
void CollectLoggerNames(const QString &path, QSet<QByteArray> &names)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() <= 0)
        return;
    const uchar *mapped = file.map(0, file.size());
    if (!mapped)
        return;
    // Unmapped when the file closes, at the end of this function.
    const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), file.size());
    for (const QByteArray &prefix : {QByteArrayLiteral("com.freerdp."), QByteArrayLiteral("com.winpr.")}) {
        for (qsizetype at = data.indexOf(prefix); at >= 0; at = data.indexOf(prefix, at + 1)) {
            if (at > 0 && data[at - 1] != '\0')
                continue;
            qsizetype end = at;
            while (end < data.size() && data[end] != '\0')
                ++end;
            const QByteArray name(data.constData() + at, end - at); // a copy: the mapping goes
            const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
                return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.'
                    || c == '_' || c == '-';
            });
            if (plain && end < data.size())
                names.insert(name);
        }
    }
}

int AddLibrary(dl_phdr_info *info, size_t, void *data)
{
    const QString path = QString::fromLocal8Bit(info->dlpi_name ? info->dlpi_name : "");
    if (path.contains(QLatin1String("freerdp")) || path.contains(QLatin1String("winpr")))
        static_cast<QStringList *>(data)->append(path);
    return 0;
}

// The library creates a logger on first use, adding it to a list that it does
// not lock; done here, on one thread, the workers only ever find them.
void CreateLoggers()
{
    QStringList libraries;
    dl_iterate_phdr(AddLibrary, &libraries);
    QSet<QByteArray> names;
    for (const QString &library : std::as_const(libraries))
        CollectLoggerNames(library, names);
    for (const QByteArray &name : std::as_const(names))
        WLog_Get(name.constData());
}

} // namespace

void PrepareRdpLibrary()
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
        CreateLoggers();
        // The library connects around the program's relay to every server that
        // no_proxy or NO_PROXY names ("*" names them all): its connection could
        // then be neither limited nor cut. Sessions take no proxy from the
        // environment, so the library is not shown these; before any worker runs.
        for (const char *name : RdpBypassVariables)
            ::unsetenv(name);
        RdpRelay::RemoveStaleFolders();
        // Its state changes are told at the debug level; they say where an attempt failed.
        WLog_SetLogLevel(WLog_Get("com.freerdp.core.connection"), WLOG_DEBUG);
    });
}

void SetRdpLogCapture(RdpLogCapture *capture)
{
    t_capture = capture;
}
