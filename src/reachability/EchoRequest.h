#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// The echo request every probe sends, and the texts and times that go with it.
namespace EchoRequest {

inline constexpr int DataSize = 56;    // bytes of request data
inline constexpr int Ttl = 128;        // time to live (IPv6: hop limit)
inline constexpr int TimeoutMs = 3000; // no reply by then: the host does not answer
inline constexpr int WaitMs = 1000;    // a poller's wait before each probe

// The request data: "Pinging" and 47 full stops, a zero byte, a byte 0xAA.
QByteArray data();

// Probes that share one socket carry a mark in the request data, written over
// sixteen of the full stops: the prober's random token, the target's slot and
// the probe's serial number. A reply is taken only when it echoes the mark.
struct Mark {
    std::uint64_t token = 0;
    std::uint32_t slot = 0;
    std::uint32_t serial = 0;
    bool operator==(const Mark &) const = default;
};
void writeMark(unsigned char *data, const Mark &mark);
bool readMark(const unsigned char *data, int size, Mark &mark);

QString hostNotFoundText(); // "找不到主机"
QString noReplyText();      // "服务器连接中断"
QString replyText();        // "Reply from server"

} // namespace EchoRequest
