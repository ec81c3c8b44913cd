#include "IniValue.h"

#include <cstdint>

int HexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

namespace {

std::optional<std::uint32_t> parseHex(QStringView digits)
{
    if (digits.isEmpty())
        return std::nullopt;
    std::uint32_t value = 0;
    int significant = 0;
    for (QChar c : digits) {
        const int d = HexDigitValue(c);
        if (d < 0)
            return std::nullopt;
        if (significant > 0 || d != 0)
            ++significant;
        if (significant > 8)
            return std::nullopt;
        value = (value << 4) | std::uint32_t(d);
    }
    return value;
}

std::optional<std::int64_t> parseDecimal(QStringView digits)
{
    if (digits.isEmpty())
        return std::nullopt;
    std::int64_t value = 0;
    for (QChar c : digits) {
        const char16_t u = c.unicode();
        if (u < '0' || u > '9')
            return std::nullopt;
        value = value * 10 + (u - '0');
        if (value > std::int64_t(1) << 32)
            return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<int> ParseIniInteger(QStringView text)
{
    qsizetype pos = 0;
    while (pos < text.size() && text[pos] == u' ')
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == u'-' || text[pos] == u'+')) {
        negative = text[pos] == u'-';
        ++pos;
    }
    QStringView rest = text.mid(pos);

    qsizetype prefix = 0;
    if (rest.startsWith(u'$') || rest.startsWith(u'x') || rest.startsWith(u'X'))
        prefix = 1;
    else if (rest.startsWith(u"0x") || rest.startsWith(u"0X"))
        prefix = 2;

    if (prefix > 0) {
        const auto bits = parseHex(rest.mid(prefix));
        if (!bits)
            return std::nullopt;
        const auto value = std::int32_t(*bits);
        return negative ? int(0u - std::uint32_t(value)) : int(value);
    }

    const auto magnitude = parseDecimal(rest);
    if (!magnitude)
        return std::nullopt;
    const std::int64_t value = negative ? -*magnitude : *magnitude;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return int(value);
}
