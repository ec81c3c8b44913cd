#include "RdpClipboard.h"

#include <freerdp/client/cliprdr.h>

#include <QBuffer>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr UINT32 FormatText = 1;         // CF_TEXT
constexpr UINT32 FormatUnicodeText = 13; // CF_UNICODETEXT
constexpr UINT32 FormatDib = 8;          // CF_DIB
constexpr int BitmapFileHeaderSize = 14;
// The most of the server's content taken at once.
constexpr UINT32 MaxAnswerBytes = 256u << 20;

} // namespace

QByteArray RdpDibOfImage(const QImage &image)
{
    QByteArray bmp;
    QBuffer buffer(&bmp);
    buffer.open(QIODevice::WriteOnly);
    if (!image.convertToFormat(QImage::Format_RGB32).save(&buffer, "BMP") || bmp.size() <= BitmapFileHeaderSize)
        return {};
    return bmp.mid(BitmapFileHeaderSize);
}

QImage RdpImageOfDib(const QByteArray &dib)
{
    const auto *data = reinterpret_cast<const BYTE *>(dib.constData());
    const auto length = quint64(dib.size());
    if (length < 40)
        return {};
    auto le32 = [&](int at) { return quint32(data[at]) | quint32(data[at + 1]) << 8 | quint32(data[at + 2]) << 16 | quint32(data[at + 3]) << 24; };
    const quint32 headerSize = le32(0);
    const qint64 width = qint32(le32(4));
    const qint64 height = std::abs(qint64(qint32(le32(8)))); // negative: drawn top down
    const quint32 bitCount = quint32(data[14]) | quint32(data[15]) << 8;
    const quint32 compression = le32(16);
    quint32 colours = le32(32);
    // What the header claims is checked against the bounds and against the data
    // that came before anything is made of it: a few bytes may claim a picture
    // of gigabytes. Only uncompressed pictures (plain or with colour masks) are taken.
    const bool plain = compression == 0 || compression == 3;
    const bool depth = bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
    if (headerSize < 40 || headerSize > length || !plain || !depth || width <= 0 || height <= 0
        || width > RdpClipboard::MaxImageSide || height > RdpClipboard::MaxImageSide
        || width * height > RdpClipboard::MaxImagePixels || colours > 256)
        return {};
    if (colours == 0 && bitCount <= 8)
        colours = 1u << bitCount;
    const quint32 masks = (compression == 3 && headerSize == 40) ? 12 : 0; // BI_BITFIELDS
    const quint64 rowBytes = (quint64(width) * bitCount + 31) / 32 * 4;
    if (quint64(headerSize) + masks + quint64(colours) * 4 + rowBytes * quint64(height) > length)
        return {};
    const quint32 offset = BitmapFileHeaderSize + headerSize + masks + colours * 4;
    QByteArray bmp("BM");
    const quint32 size = quint32(BitmapFileHeaderSize + length);
    for (quint32 v : {size, 0u, offset})
        for (int i = 0; i < 4; ++i)
            bmp.append(char((v >> (8 * i)) & 0xFF));
    bmp.append(reinterpret_cast<const char *>(data), qsizetype(length));
    return QImage::fromData(bmp, "BMP");
}

namespace {

// The text as the protocol carries it: UTF-16LE, ending in a zero.
QByteArray UnicodeBytes(const QString &text)
{
    QString withCrLf = text;
    withCrLf.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    QByteArray bytes;
    bytes.reserve((withCrLf.size() + 1) * 2);
    for (QChar c : std::as_const(withCrLf)) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    bytes.append(2, '\0');
    return bytes;
}

QString TextOf(UINT32 format, const BYTE *data, UINT32 length)
{
    QString text;
    if (format == FormatUnicodeText) {
        std::vector<char16_t> units(length / 2);
        for (size_t i = 0; i < units.size(); ++i)
            units[i] = char16_t(data[2 * i] | (data[2 * i + 1] << 8));
        text = QString::fromUtf16(units.data(), qsizetype(units.size()));
    } else {
        text = QString::fromLocal8Bit(reinterpret_cast<const char *>(data), qsizetype(length));
    }
    const qsizetype end = text.indexOf(QChar(0));
    if (end >= 0)
        text.truncate(end);
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

RdpClipboard::RdpClipboard(std::function<void(RemoteOffer)> onRemoteOffer) : onRemoteOffer_(std::move(onRemoteOffer)) {}

RdpClipboard &RdpClipboard::Of(CliprdrClientContext *channel)
{
    return *static_cast<RdpClipboard *>(channel->custom);
}

void RdpClipboard::Attach(CliprdrClientContext *channel)
{
    std::lock_guard guard(lock_);
    channel_ = channel;
    ready_ = false;
    remoteText_ = 0;
    remoteImage_ = false;
    channel->custom = this;
    channel->MonitorReady = OnMonitorReady;
    channel->ServerCapabilities = OnServerCapabilities;
    channel->ServerFormatList = OnServerFormatList;
    channel->ServerFormatListResponse = OnServerFormatListResponse;
    channel->ServerFormatDataRequest = OnServerFormatDataRequest;
    channel->ServerFormatDataResponse = OnServerFormatDataResponse;
}

void RdpClipboard::Detach(CliprdrClientContext *channel)
{
    std::lock_guard guard(lock_);
    if (channel_ != channel)
        return;
    channel_ = nullptr;
    ready_ = false;
    remoteText_ = 0;
    remoteImage_ = false;
    requestedFormat_ = 0;
    answered_.notify_all();
}

void RdpClipboard::SetLocal(const QString &text, const QImage &image)
{
    std::lock_guard guard(lock_);
    localText_ = text;
    localImage_ = image;
}

void RdpClipboard::OfferLocal()
{
    std::lock_guard guard(lock_);
    if (channel_ && ready_)
        SendFormatList(channel_);
}

void RdpClipboard::Withdraw()
{
    std::lock_guard guard(lock_);
    localText_.clear();
    localImage_ = QImage();
    offeredText_.clear();
    offeredImage_ = QImage();
}

// Under lock_. The offer made now is the one that stands, and serves what it names.
unsigned RdpClipboard::SendFormatList(CliprdrClientContext *channel)
{
    offeredText_ = localText_;
    offeredImage_ = localImage_;
    CLIPRDR_FORMAT formats[3] = {};
    UINT32 count = 0;
    if (!offeredText_.isEmpty()) {
        formats[count++] = {FormatUnicodeText, nullptr};
        formats[count++] = {FormatText, nullptr};
    }
    if (!offeredImage_.isNull())
        formats[count++] = {FormatDib, nullptr};
    CLIPRDR_FORMAT_LIST list{};
    list.msgType = CB_FORMAT_LIST;
    list.numFormats = count;
    list.formats = formats;
    return channel->ClientFormatList(channel, &list);
}

// Under lock_.
bool RdpClipboard::Offered(uint32_t format) const
{
    switch (format) {
    case FormatUnicodeText:
    case FormatText: return !offeredText_.isEmpty();
    case FormatDib: return !offeredImage_.isNull();
    }
    return false;
}

unsigned RdpClipboard::OnMonitorReady(CliprdrClientContext *channel, const CLIPRDR_MONITOR_READY *)
{
    CLIPRDR_GENERAL_CAPABILITY_SET general{};
    general.capabilitySetType = CB_CAPSTYPE_GENERAL;
    general.capabilitySetLength = CB_CAPSTYPE_GENERAL_LEN;
    general.version = CB_CAPS_VERSION_2;
    general.generalFlags = CB_USE_LONG_FORMAT_NAMES;
    CLIPRDR_CAPABILITIES capabilities{};
    capabilities.msgType = CB_CLIP_CAPS;
    capabilities.cCapabilitiesSets = 1;
    capabilities.capabilitySets = reinterpret_cast<CLIPRDR_CAPABILITY_SET *>(&general);
    UINT status = channel->ClientCapabilities(channel, &capabilities);
    if (status != CHANNEL_RC_OK)
        return status;
    RdpClipboard &self = Of(channel);
    std::lock_guard guard(self.lock_);
    self.ready_ = true;
    return self.SendFormatList(channel);
}

unsigned RdpClipboard::OnServerCapabilities(CliprdrClientContext *, const CLIPRDR_CAPABILITIES *)
{
    return CHANNEL_RC_OK;
}

// The server's clipboard changed: its formats are noted and told, nothing is fetched.
unsigned RdpClipboard::OnServerFormatList(CliprdrClientContext *channel, const CLIPRDR_FORMAT_LIST *list)
{
    CLIPRDR_FORMAT_LIST_RESPONSE response{};
    response.msgType = CB_FORMAT_LIST_RESPONSE;
    response.msgFlags = CB_RESPONSE_OK;
    UINT status = channel->ClientFormatListResponse(channel, &response);
    if (status != CHANNEL_RC_OK)
        return status;
    RemoteOffer offer;
    uint32_t text = 0;
    for (UINT32 i = 0; list->formats && i < list->numFormats; ++i) {
        const UINT32 id = list->formats[i].formatId;
        if (id == FormatUnicodeText)
            text = FormatUnicodeText;
        else if (id == FormatText && text == 0)
            text = FormatText;
        else if (id == FormatDib)
            offer.Image = true;
    }
    offer.Text = text != 0;
    RdpClipboard &self = Of(channel);
    {
        std::lock_guard guard(self.lock_);
        self.remoteText_ = text;
        self.remoteImage_ = offer.Image;
        // The server holds the clipboard now: the desktop's offer no longer stands.
        self.offeredText_.clear();
        self.offeredImage_ = QImage();
    }
    self.onRemoteOffer_(offer);
    return CHANNEL_RC_OK;
}

unsigned RdpClipboard::OnServerFormatListResponse(CliprdrClientContext *, const CLIPRDR_FORMAT_LIST_RESPONSE *)
{
    return CHANNEL_RC_OK;
}

// Answered only for a format of the standing offer, with what that offer holds.
unsigned RdpClipboard::OnServerFormatDataRequest(CliprdrClientContext *channel,
                                                 const CLIPRDR_FORMAT_DATA_REQUEST *request)
{
    RdpClipboard &self = Of(channel);
    QByteArray data;
    {
        std::lock_guard guard(self.lock_);
        const uint32_t format = request->requestedFormatId;
        if (self.Offered(format)) {
            if (format == FormatUnicodeText)
                data = UnicodeBytes(self.offeredText_);
            else if (format == FormatText)
                data = self.offeredText_.toLocal8Bit().replace("\n", "\r\n") + '\0';
            else
                data = RdpDibOfImage(self.offeredImage_);
        }
    }
    CLIPRDR_FORMAT_DATA_RESPONSE response{};
    response.msgType = CB_FORMAT_DATA_RESPONSE;
    response.msgFlags = data.isEmpty() ? CB_RESPONSE_FAIL : CB_RESPONSE_OK;
    response.dataLen = UINT32(data.size());
    response.requestedFormatData = data.isEmpty() ? nullptr : reinterpret_cast<const BYTE *>(data.constData());
    return channel->ClientFormatDataResponse(channel, &response);
}

// The answer to the request that waits; anything else the server sends is dropped.
unsigned RdpClipboard::OnServerFormatDataResponse(CliprdrClientContext *channel,
                                                  const CLIPRDR_FORMAT_DATA_RESPONSE *response)
{
    RdpClipboard &self = Of(channel);
    std::lock_guard guard(self.lock_);
    if (self.requestedFormat_ == 0)
        return CHANNEL_RC_OK;
    const bool ok = (response->msgFlags & CB_RESPONSE_OK) && response->requestedFormatData
        && response->dataLen <= MaxAnswerBytes;
    self.answer_ = ok ? QByteArray(reinterpret_cast<const char *>(response->requestedFormatData),
                                   qsizetype(response->dataLen))
                      : QByteArray();
    self.answered_.notify_all();
    return CHANNEL_RC_OK;
}

RdpClipboard::Content RdpClipboard::Fetch(bool image, int waitMs)
{
    std::unique_lock guard(lock_);
    const uint32_t format = image ? (remoteImage_ ? FormatDib : 0) : remoteText_;
    if (!channel_ || !ready_ || format == 0)
        return {};
    CLIPRDR_FORMAT_DATA_REQUEST request{};
    request.msgType = CB_FORMAT_DATA_REQUEST;
    request.requestedFormatId = format;
    requestedFormat_ = format;
    answer_.reset();
    ++fetches_;
    if (channel_->ClientFormatDataRequest(channel_, &request) != CHANNEL_RC_OK) {
        requestedFormat_ = 0;
        return {};
    }
    answered_.wait_for(guard, std::chrono::milliseconds(waitMs),
                       [&] { return answer_.has_value() || requestedFormat_ == 0; });
    requestedFormat_ = 0;
    const QByteArray data = answer_.value_or(QByteArray());
    answer_.reset();
    guard.unlock();
    Content content;
    if (data.isEmpty())
        return content;
    if (image)
        content.Image = RdpImageOfDib(data);
    else
        content.Text = TextOf(format, reinterpret_cast<const BYTE *>(data.constData()), UINT32(data.size()));
    return content;
}

int RdpClipboard::Fetches() const
{
    std::lock_guard guard(lock_);
    return fetches_;
}
