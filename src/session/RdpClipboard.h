#pragma once

#include <QImage>
#include <QString>

#include <functional>
#include <mutex>

typedef struct _cliprdr_client_context CliprdrClientContext;

// Clipboard redirection (the cliprdr channel): Unicode text and pictures both
// ways. The desktop's content is kept here as last offered; the server's is
// handed to onRemoteText or onRemoteImage. The channel's callbacks come on the channel's own thread,
// Attach, Detach and OfferLocal on the worker's.
class RdpClipboard {
public:
    RdpClipboard(std::function<void(const QString &)> onRemoteText,
                 std::function<void(const QImage &)> onRemoteImage);

    void Attach(CliprdrClientContext *channel);
    void Detach(CliprdrClientContext *channel);
    // The desktop's clipboard changed; kept, and offered once the channel is ready.
    void SetLocal(const QString &text, const QImage &image);
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
    std::function<void(const QImage &)> onRemoteImage_;
    std::mutex lock_; // guards the members below
    CliprdrClientContext *channel_ = nullptr;
    bool ready_ = false;
    QString localText_;
    QImage localImage_;
    unsigned requestedFormat_ = 0;
};

// A picture as the protocol carries it: a device-independent bitmap, which is a
// BMP file without its file header. Null or empty when it cannot be converted.
QByteArray RdpDibOfImage(const QImage &image);
QImage RdpImageOfDib(const QByteArray &dib);
