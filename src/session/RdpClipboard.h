#pragma once

#include <QString>

#include <functional>
#include <mutex>

typedef struct _cliprdr_client_context CliprdrClientContext;

// Clipboard redirection (the cliprdr channel): Unicode text both ways. The
// desktop's text is kept here as last offered; the server's text is handed to
// onRemoteText. The channel's callbacks come on the channel's own thread,
// Attach, Detach and OfferLocal on the worker's.
class RdpClipboard {
public:
    explicit RdpClipboard(std::function<void(const QString &)> onRemoteText);

    void Attach(CliprdrClientContext *channel);
    void Detach(CliprdrClientContext *channel);
    // The desktop's text changed; kept, and offered once the channel is ready.
    void SetLocalText(const QString &text);
    // Tells the server what the desktop's clipboard holds now.
    void OfferLocal();

private:
    static RdpClipboard &Of(CliprdrClientContext *channel);
    static unsigned OnMonitorReady(CliprdrClientContext *channel, const struct _CLIPRDR_MONITOR_READY *);
    static unsigned OnServerCapabilities(CliprdrClientContext *channel, const struct _CLIPRDR_CAPABILITIES *);
    static unsigned OnServerFormatList(CliprdrClientContext *channel, const struct _CLIPRDR_FORMAT_LIST *list);
    static unsigned OnServerFormatListResponse(CliprdrClientContext *channel,
                                               const struct _CLIPRDR_FORMAT_LIST_RESPONSE *);
    static unsigned OnServerFormatDataRequest(CliprdrClientContext *channel,
                                              const struct _CLIPRDR_FORMAT_DATA_REQUEST *request);
    static unsigned OnServerFormatDataResponse(CliprdrClientContext *channel,
                                               const struct _CLIPRDR_FORMAT_DATA_RESPONSE *response);

    unsigned SendFormatList(CliprdrClientContext *channel);

    std::function<void(const QString &)> onRemoteText_;
    std::mutex lock_; // guards the members below
    CliprdrClientContext *channel_ = nullptr;
    bool ready_ = false;
    QString localText_;
    unsigned requestedFormat_ = 0;
};
