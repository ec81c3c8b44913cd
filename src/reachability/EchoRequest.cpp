#include "EchoRequest.h"

#include <cstring>

namespace EchoRequest {

namespace {
constexpr int MarkOffset = 7; // just after "Pinging"
constexpr int MarkSize = 16;
} // namespace

QByteArray data()
{
    QByteArray bytes(DataSize, char(0xAA));
    QByteArray text("Pinging");
    text.append(QByteArray(47, '.'));
    std::memcpy(bytes.data(), text.constData(), text.size());
    bytes[text.size()] = '\0';
    return bytes;
}

void writeMark(unsigned char *data, const Mark &mark)
{
    unsigned char *at = data + MarkOffset;
    std::memcpy(at, &mark.token, 8);
    std::memcpy(at + 8, &mark.slot, 4);
    std::memcpy(at + 12, &mark.serial, 4);
}

bool readMark(const unsigned char *data, int size, Mark &mark)
{
    if (size < MarkOffset + MarkSize)
        return false;
    const unsigned char *at = data + MarkOffset;
    std::memcpy(&mark.token, at, 8);
    std::memcpy(&mark.slot, at + 8, 4);
    std::memcpy(&mark.serial, at + 12, 4);
    return true;
}

QString hostNotFoundText()
{
    return QStringLiteral("找不到主机");
}

QString noReplyText()
{
    return QStringLiteral("服务器连接中断");
}

QString replyText()
{
    return QStringLiteral("Reply from server");
}

} // namespace EchoRequest
