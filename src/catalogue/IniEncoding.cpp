#include "IniEncoding.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <bitset>
#include <memory>
#include <optional>

namespace {

const char kGb18030[] = "GB18030";
// Enough text to tell the two 8-bit encodings apart; the rest of the file is not scored.
constexpr qsizetype kSampleBytes = 64 * 1024;

bool startsWith(QByteArrayView bytes, std::initializer_list<unsigned char> mark)
{
    if (bytes.size() < qsizetype(mark.size()))
        return false;
    qsizetype i = 0;
    for (unsigned char b : mark)
        if (static_cast<unsigned char>(bytes[i++]) != b)
            return false;
    return true;
}

// The characters of GB2312: the 6,763 hanzi in everyday use, and the full-width
// punctuation, letters and symbols of Chinese text.
const std::bitset<0x10000> &gb2312Characters()
{
    static const auto set = [] {
        QByteArray table;
        for (int row = 0xA1; row <= 0xF7; ++row) {
            if (row >= 0xAA && row <= 0xAF)
                continue; // rows without characters
            for (int cell = 0xA1; cell <= 0xFE; ++cell)
                table.append(char(row)).append(char(cell));
        }
        QStringDecoder decoder(kGb18030, QStringConverter::Flag::Stateless);
        auto bits = std::make_unique<std::bitset<0x10000>>();
        const QString characters = decoder.decode(table);
        for (QChar c : characters) {
            const char16_t u = c.unicode();
            const bool privateUse = u >= 0xE000 && u <= 0xF8FF;
            if (!privateUse && u != 0xFFFD)
                bits->set(u);
        }
        return bits;
    }();
    return *set;
}

// How unlikely a character is in a Chinese server list: 0 for ASCII, Latin-1 and
// what GB2312 holds, 1 for other hanzi and hangul, 2 for everything else, the
// replacement for undecodable bytes included. Text read in the wrong encoding is
// full of the latter: GB18030 read as UTF-8 gives Cyrillic, Armenian or Hebrew
// ("医院" reads "ҽԺ"), UTF-8 read as GB18030 gives private-use characters and errors.
int unlikeliness(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x100 || c.isSurrogate() || gb2312Characters().test(u))
        return 0;
    const bool otherHanzi = (u >= 0x3400 && u <= 0x9FFF) || (u >= 0xF900 && u <= 0xFAFF);
    const bool hangul = u >= 0xAC00 && u <= 0xD7A3;
    const bool combiningMark = u >= 0x0300 && u <= 0x036F;
    if (otherHanzi || hangul || combiningMark)
        return 1;
    return 2;
}

int unlikeliness(QStringView text)
{
    int sum = 0;
    for (QChar c : text)
        sum += unlikeliness(c);
    return sum;
}

bool isAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char b) { return static_cast<unsigned char>(b) < 0x80; });
}

QStringDecoder decoderFor(IniEncoding encoding)
{
    switch (encoding) {
    case IniEncoding::Utf16LeBom:
        return QStringDecoder(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless);
    case IniEncoding::Gb18030:
        return QStringDecoder(kGb18030, QStringConverter::Flag::Stateless);
    case IniEncoding::Utf8Bom:
    case IniEncoding::Utf8:
        break;
    }
    return QStringDecoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
}

// Surrogates that are not half of a pair become U+FFFD, as every other unit that
// is no character does; the toolkit passes them through.
void replaceLoneSurrogates(QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!c.isSurrogate())
            continue;
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else
            text[i] = QChar(QChar::ReplacementCharacter);
    }
}

QString decode(QStringDecoder &decoder, QByteArrayView bytes, bool *clean, int unitSize)
{
    decoder.resetState();
    QString text = decoder.decode(bytes);
    if (clean)
        *clean = !decoder.hasError();
    if (unitSize == 2)
        replaceLoneSurrogates(text);
    return text;
}

// The bytes decoded so that they read the same whatever follows them. In an 8-bit
// encoding a sequence cut off by the end of the bytes reads as U+FFFD, as it does
// when a line end follows it (the toolkit drops a lone GB18030 lead byte at the end
// but not before a line end); in UTF-16 an odd last byte and a lone surrogate read
// as U+FFFD. A file's last line thus reads the same before and after a line is
// added below it.
QString decodeToEnd(QStringDecoder &decoder, QByteArrayView bytes, bool *clean, int unitSize)
{
    bool valid = false;
    QString text = decode(decoder, bytes, &valid, unitSize);
    if (clean)
        *clean = valid;
    if (valid || unitSize == 2 || bytes.isEmpty() || bytes.back() == '\n')
        return text;
    QByteArray ended = bytes.toByteArray();
    ended.append('\n');
    QString endedText = decode(decoder, ended, nullptr, unitSize);
    if (!endedText.endsWith(u'\n'))
        return text;
    endedText.chop(1);
    return endedText;
}

// The lines of the file that hold non-ASCII bytes, up to the sample size.
QByteArray nonAsciiLines(QByteArrayView bytes)
{
    QByteArray sample;
    qsizetype from = 0;
    while (from < bytes.size() && sample.size() < kSampleBytes) {
        qsizetype end = bytes.indexOf('\n', from);
        if (end < 0)
            end = bytes.size();
        const QByteArrayView line = bytes.sliced(from, end - from);
        if (std::any_of(line.begin(), line.end(), [](char b) { return static_cast<unsigned char>(b) >= 0x80; }))
            sample.append(line).append('\n');
        from = end + 1;
    }
    return sample;
}

IniEncoding otherEightBit(IniEncoding encoding)
{
    return encoding == IniEncoding::Gb18030 ? IniEncoding::Utf8 : IniEncoding::Gb18030;
}

} // namespace

IniEncoding DetectIniEncoding(QByteArrayView bytes)
{
    if (startsWith(bytes, {0xFF, 0xFE}))
        return IniEncoding::Utf16LeBom;
    if (startsWith(bytes, {0xEF, 0xBB, 0xBF}))
        return IniEncoding::Utf8Bom;
    const QByteArray sample = nonAsciiLines(bytes);
    if (sample.isEmpty())
        return IniEncoding::Utf8;
    // A tie goes to UTF-8: plain Latin text reads the same either way.
    const int asUtf8 = unlikeliness(DecodeIniBytes(sample, IniEncoding::Utf8));
    const int asGb18030 = unlikeliness(DecodeIniBytes(sample, IniEncoding::Gb18030));
    return asGb18030 < asUtf8 ? IniEncoding::Gb18030 : IniEncoding::Utf8;
}

QString DecodeIniBytes(QByteArrayView bytes, IniEncoding encoding, bool *clean)
{
    QStringDecoder decoder = decoderFor(encoding);
    return decodeToEnd(decoder, bytes, clean, IniUnitSize(encoding));
}

DecodedText DecodeIniText(const QByteArray &bytes)
{
    DecodedText result;
    result.encoding = DetectIniEncoding(bytes);
    const QByteArrayView body = QByteArrayView(bytes).sliced(IniByteOrderMark(result.encoding).size());
    result.text = DecodeIniBody(body, result.encoding);
    return result;
}

QString DecodeIniBody(QByteArrayView body, IniEncoding encoding)
{
    const int unit = IniUnitSize(encoding);
    QStringDecoder decoder = decoderFor(encoding);
    bool clean = false;
    QString text = decode(decoder, body, &clean, unit);
    // The common case: every byte valid (so no character cut off at the end), every
    // character plausible.
    if (clean && (unit == 2 || unlikeliness(text) == 0))
        return text;

    // Line by line, so that invalid bytes cost no more than their own line and each
    // line stays one line; in an 8-bit file, a line reads in the other 8-bit
    // encoding where that gives the more plausible text (two versions of the
    // program writing one file, each in its own encoding).
    QStringDecoder other = decoderFor(otherEightBit(encoding));
    text.clear();
    qsizetype from = 0;
    while (from < body.size()) {
        const qsizetype end = IniLineEnd(body, from, unit);
        const QByteArrayView line = body.sliced(from, end - from);
        if (unit == 1 && isAscii(line)) {
            text += QLatin1StringView(line);
        } else {
            QString lineText = decodeToEnd(decoder, line, nullptr, unit);
            if (unit == 1) {
                const int cost = unlikeliness(lineText);
                if (cost > 0) {
                    QString alternative = decodeToEnd(other, line, nullptr, unit);
                    if (unlikeliness(alternative) < cost)
                        lineText = std::move(alternative);
                }
            }
            text += lineText;
        }
        if (end < body.size())
            text += u'\n';
        from = end + unit;
    }
    return text;
}

qsizetype IniLineEnd(QByteArrayView bytes, qsizetype from, int unitSize)
{
    if (unitSize == 1) {
        const qsizetype end = bytes.indexOf('\n', from);
        return end < 0 ? bytes.size() : end;
    }
    for (qsizetype at = from; at + 1 < bytes.size(); at += 2)
        if (bytes[at] == '\n' && bytes[at + 1] == 0)
            return at;
    return bytes.size();
}

QByteArray IniByteOrderMark(IniEncoding encoding)
{
    switch (encoding) {
    case IniEncoding::Utf16LeBom:
        return QByteArray("\xFF\xFE", 2);
    case IniEncoding::Utf8Bom:
        return QByteArray("\xEF\xBB\xBF", 3);
    case IniEncoding::Gb18030:
    case IniEncoding::Utf8:
        break;
    }
    return {};
}

QByteArray EncodeIniBody(const QString &text, IniEncoding encoding)
{
    switch (encoding) {
    case IniEncoding::Utf16LeBom: {
        QStringEncoder encoder(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless);
        return encoder.encode(text);
    }
    case IniEncoding::Gb18030: {
        QStringEncoder encoder(kGb18030, QStringConverter::Flag::Stateless);
        return encoder.encode(text);
    }
    case IniEncoding::Utf8Bom:
    case IniEncoding::Utf8:
        break;
    }
    return text.toUtf8();
}
