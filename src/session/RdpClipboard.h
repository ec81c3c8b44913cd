#pragma once

#include <QImage>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

typedef struct _cliprdr_client_context CliprdrClientContext;

// Clipboard redirection (the cliprdr channel): Unicode text and pictures both
// ways, on terms the server cannot bend.
// - The desktop's content reaches the server only as offered: SetLocal takes a
//   copy, OfferLocal tells the server its formats, and a data request is answered
//   only for a format of the offer that stands now. Offering nothing withdraws it.
// - What the server offers is told by onRemoteOffer and fetched only when Fetch
//   asks for it, only in a format of the server's standing offer.
// The channel's callbacks come on the channel's own thread, Attach, Detach and
// OfferLocal on the worker's, SetLocal and Fetch on the GUI thread.
class RdpClipboard {
public:
    // What the server offers: text, a picture, or both.
    struct RemoteOffer {
        bool Text = false;
        bool Image = false;
    };
    explicit RdpClipboard(std::function<void(RemoteOffer)> onRemoteOffer);

    void Attach(CliprdrClientContext *channel);
    void Detach(CliprdrClientContext *channel);
    // The desktop's clipboard to offer next; empty ones offer nothing.
    void SetLocal(const QString &text, const QImage &image);
    // Tells the server what SetLocal last gave; from then on that is served.
    void OfferLocal();
    // Ends the standing offer without a word to the server: its requests are
    // refused until the next offer.
    void Withdraw();

    // The server's content in the format asked for (a picture when image, else
    // text), waiting for it at most waitMs. Empty when the server offers no such
    // format, does not answer in time, or sends what cannot be read.
    struct Content {
        QString Text;
        QImage Image;
    };
    Content Fetch(bool image, int waitMs);
    // Requests for the server's content sent so far.
    int Fetches() const;

    // The most a picture of the server may hold, each way and in all.
    static constexpr int MaxImageSide = 16384;
    static constexpr qint64 MaxImagePixels = qint64(8192) * 8192;

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
    bool Offered(uint32_t format) const;

    std::function<void(RemoteOffer)> onRemoteOffer_;
    mutable std::mutex lock_; // guards the members below
    std::condition_variable answered_;
    CliprdrClientContext *channel_ = nullptr;
    bool ready_ = false;
    // What SetLocal gave, and what the standing offer serves.
    QString localText_;
    QImage localImage_;
    QString offeredText_;
    QImage offeredImage_;
    // The server's standing offer, as format ids.
    uint32_t remoteText_ = 0;
    bool remoteImage_ = false;
    // The request for the server's content that waits for its answer, 0 for none.
    uint32_t requestedFormat_ = 0;
    std::optional<QByteArray> answer_;
    int fetches_ = 0;
};

// A picture as the protocol carries it: a device-independent bitmap, which is a
// BMP file without its file header. Null or empty when it cannot be converted:
// RdpImageOfDib refuses a bitmap whose header claims more pixels than its data
// holds, or more than RdpClipboard's bounds, before anything is allocated.
QByteArray RdpDibOfImage(const QImage &image);
QImage RdpImageOfDib(const QByteArray &dib);
