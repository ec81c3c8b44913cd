#include "RdpClipboard.h"

#include <freerdp/client/cliprdr.h>

#include <cstring>
#include <vector>

namespace {

constexpr UINT32 FormatText = 1;        // CF_TEXT
constexpr UINT32 FormatUnicodeText = 13; // CF_UNICODETEXT

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

RdpClipboard::RdpClipboard(std::function<void(const QString &)> onRemoteText)
    : onRemoteText_(std::move(onRemoteText))
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

void RdpClipboard::SetLocalText(const QString &text)
{
    std::lock_guard guard(lock_);
    localText_ = text;
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
    CLIPRDR_FORMAT formats[2] = {{FormatUnicodeText, nullptr}, {FormatText, nullptr}};
    CLIPRDR_FORMAT_LIST list{};
    list.msgType = CB_FORMAT_LIST;
    list.numFormats = localText_.isEmpty() ? 0 : 2;
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
    UINT32 wanted = 0;
    for (UINT32 i = 0; i < list->numFormats; ++i) {
        if (list->formats[i].formatId == FormatUnicodeText)
            wanted = FormatUnicodeText;
        else if (list->formats[i].formatId == FormatText && wanted == 0)
            wanted = FormatText;
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
    self.onRemoteText_(TextOf(format, response->requestedFormatData, response->dataLen));
    return CHANNEL_RC_OK;
}
