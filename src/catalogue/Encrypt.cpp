#include "Encrypt.h"

#include "AppError.h"
#include "IniValue.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<unsigned char, 8> kKey = {0x5E, 0xC3, 0x17, 0xA8, 0x0B, 0xF2, 0x64, 0xD9};
const QString kWidePrefix = QStringLiteral("U16:");
const char kHexDigits[] = "0123456789ABCDEF";

void appendByte(QString &out, unsigned value)
{
    out += QLatin1Char(kHexDigits[(value >> 4) & 0xF]);
    out += QLatin1Char(kHexDigits[value & 0xF]);
}

unsigned readByte(QStringView pair)
{
    const int high = HexDigitValue(pair[0]);
    const int low = HexDigitValue(pair[1]);
    if (high < 0 || low < 0)
        throw EConvertError(QStringLiteral("''$%1'' is not a valid integer value").arg(pair));
    return unsigned(high * 16 + low);
}

QString encryptNarrow(const QString &clear)
{
    QString out;
    out.reserve(clear.size() * 2);
    for (qsizetype i = 0; i < clear.size(); ++i)
        appendByte(out, (clear[i].unicode() & 0xFF) ^ kKey[i % 8]);
    return out;
}

QString encryptWide(const QString &clear)
{
    QString out = kWidePrefix;
    out.reserve(kWidePrefix.size() + clear.size() * 4);
    for (qsizetype i = 0; i < clear.size(); ++i) {
        const unsigned unit = clear[i].unicode();
        appendByte(out, (unit >> 8) ^ kKey[(2 * i) % 8]);
        appendByte(out, (unit & 0xFF) ^ kKey[(2 * i + 1) % 8]);
    }
    return out;
}

QString decryptNarrow(QStringView encoded)
{
    QString out;
    const qsizetype n = encoded.size() / 2;
    out.reserve(n);
    for (qsizetype i = 0; i < n; ++i)
        out += QChar(char16_t(readByte(encoded.mid(2 * i, 2)) ^ kKey[i % 8]));
    return out;
}

QString decryptWide(QStringView encoded)
{
    QString out;
    const qsizetype n = encoded.size() / 4;
    out.reserve(n);
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned high = readByte(encoded.mid(4 * i, 2)) ^ kKey[(2 * i) % 8];
        const unsigned low = readByte(encoded.mid(4 * i + 2, 2)) ^ kKey[(2 * i + 1) % 8];
        out += QChar(char16_t((high << 8) | low));
    }
    return out;
}

} // namespace

QString EncryptStr(const QString &clear)
{
    const bool narrow = std::all_of(clear.begin(), clear.end(), [](QChar c) { return c.unicode() < 256; });
    return narrow ? encryptNarrow(clear) : encryptWide(clear);
}

QString DecryptStr(const QString &encoded)
{
    if (encoded.startsWith(kWidePrefix))
        return decryptWide(QStringView(encoded).mid(kWidePrefix.size()));
    return decryptNarrow(encoded);
}
