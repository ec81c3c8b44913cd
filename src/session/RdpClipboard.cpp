#include "RdpClipboard.h"

#include <freerdp/client/cliprdr.h>

#include <QBuffer>

#include <cstring>
#include <vector>

namespace {

constexpr UINT32 FormatText = 1;         // CF_TEXT
constexpr UINT32 FormatUnicodeText = 13; // CF_UNICODETEXT
constexpr UINT32 FormatDib = 8;          // CF_DIB
constexpr int BitmapFileHeaderSize = 14;

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
    const auto length = UINT32(dib.size());
    if (length < 40)
        return {};
    auto le32 = [&](int at) { return quint32(data[at]) | quint32(data[at + 1]) << 8 | quint32(data[at + 2]) << 16 | quint32(data[at + 3]) << 24; };
    const quint32 headerSize = le32(0);
    const quint32 bitCount = quint32(data[14]) | quint32(data[15]) << 8;
    const quint32 compression = le32(16);
    quint32 colours = le32(32);
    if (colours == 0 && bitCount <= 8)
        colours = 1u << bitCount;
    const quint32 masks = (compression == 3 && headerSize == 40) ? 12 : 0; // BI_BITFIELDS
    const quint32 offset = BitmapFileHeaderSize + headerSize + masks + colours * 4;
    QByteArray bmp("BM");
    const quint32 size = BitmapFileHeaderSize + length;
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

RdpClipboard::RdpClipboard(std::function<void(const QString &)> onRemoteText,
                           std::function<void(const QImage &)> onRemoteImage)
    : onRemoteText_(std::move(onRemoteText)), onRemoteImage_(std::move(onRemoteImage))
{
}

RdpClipboard &RdpClipboard::Of(CliprdrClientContext *channel)
{
    return *static_cast<RdpClipboard *>(channel->custom);
}

void RdpClipboard::Attach(CliprdrClientContext *channel)
{
    std::lock_guard guard(lock_);
    channel_ = channel;
    ready_ = false;
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

// Under lock_.
unsigned RdpClipboard::SendFormatList(CliprdrClientContext *channel)
{
    CLIPRDR_FORMAT formats[3] = {};
    UINT32 count = 0;
    if (!localText_.isEmpty()) {
        formats[count++] = {FormatUnicodeText, nullptr};
        formats[count++] = {FormatText, nullptr};
    }
    if (!localImage_.isNull())
        formats[count++] = {FormatDib, nullptr};
    CLIPRDR_FORMAT_LIST list{};
    list.msgType = CB_FORMAT_LIST;
    list.numFormats = count;
    list.formats = formats;
    return channel->ClientFormatList(channel, &list);
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

// The server's clipboard changed: its text is fetched at once.
unsigned RdpClipboard::OnServerFormatList(CliprdrClientContext *channel, const CLIPRDR_FORMAT_LIST *list)
{
    CLIPRDR_FORMAT_LIST_RESPONSE response{};
    response.msgType = CB_FORMAT_LIST_RESPONSE;
    response.msgFlags = CB_RESPONSE_OK;
    UINT status = channel->ClientFormatListResponse(channel, &response);
    if (status != CHANNEL_RC_OK)
        return status;
    // Text first; a picture when there is no text.
    UINT32 wanted = 0;
    for (UINT32 i = 0; i < list->numFormats; ++i) {
        const UINT32 id = list->formats[i].formatId;
        if (id == FormatUnicodeText)
            wanted = FormatUnicodeText;
        else if (id == FormatText && wanted != FormatUnicodeText)
            wanted = FormatText;
        else if (id == FormatDib && wanted == 0)
            wanted = FormatDib;
    }
    if (wanted == 0)
        return CHANNEL_RC_OK;
    RdpClipboard &self = Of(channel);
    {
        std::lock_guard guard(self.lock_);
        self.requestedFormat_ = wanted;
    }
    CLIPRDR_FORMAT_DATA_REQUEST request{};
    request.msgType = CB_FORMAT_DATA_REQUEST;
    request.requestedFormatId = wanted;
    return channel->ClientFormatDataRequest(channel, &request);
}

unsigned RdpClipboard::OnServerFormatListResponse(CliprdrClientContext *, const CLIPRDR_FORMAT_LIST_RESPONSE *)
{
    return CHANNEL_RC_OK;
}

unsigned RdpClipboard::OnServerFormatDataRequest(CliprdrClientContext *channel,
                                                 const CLIPRDR_FORMAT_DATA_REQUEST *request)
{
    RdpClipboard &self = Of(channel);
    QByteArray data;
    {
        std::lock_guard guard(self.lock_);
        if (request->requestedFormatId == FormatUnicodeText)
            data = UnicodeBytes(self.localText_);
        else if (request->requestedFormatId == FormatText)
            data = self.localText_.toLocal8Bit().replace("\n", "\r\n") + '\0';
        else if (request->requestedFormatId == FormatDib)
            data = RdpDibOfImage(self.localImage_);
    }
    CLIPRDR_FORMAT_DATA_RESPONSE response{};
    response.msgType = CB_FORMAT_DATA_RESPONSE;
    response.msgFlags = data.isEmpty() ? CB_RESPONSE_FAIL : CB_RESPONSE_OK;
    response.dataLen = UINT32(data.size());
    response.requestedFormatData = reinterpret_cast<const BYTE *>(data.constData());
    return channel->ClientFormatDataResponse(channel, &response);
}

unsigned RdpClipboard::OnServerFormatDataResponse(CliprdrClientContext *channel,
                                                  const CLIPRDR_FORMAT_DATA_RESPONSE *response)
{
    RdpClipboard &self = Of(channel);
    UINT32 format = 0;
    {
        std::lock_guard guard(self.lock_);
        format = self.requestedFormat_;
        self.requestedFormat_ = 0;
    }
    if (format == 0 || !(response->msgFlags & CB_RESPONSE_OK) || !response->requestedFormatData)
        return CHANNEL_RC_OK;
    if (format == FormatDib) {
        const QImage image = RdpImageOfDib(QByteArray(reinterpret_cast<const char *>(response->requestedFormatData),
                                                      qsizetype(response->dataLen)));
        if (!image.isNull())
            self.onRemoteImage_(image);
        return CHANNEL_RC_OK;
    }
    self.onRemoteText_(TextOf(format, response->requestedFormatData, response->dataLen));
    return CHANNEL_RC_OK;
}
