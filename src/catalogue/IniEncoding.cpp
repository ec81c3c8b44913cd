#include "IniEncoding.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace {

const char kGb18030[] = "GB18030";

bool startsWith(const QByteArray &bytes, std::initializer_list<unsigned char> mark)
{
    if (bytes.size() < qsizetype(mark.size()))
        return false;
    qsizetype i = 0;
    for (unsigned char b : mark)
        if (static_cast<unsigned char>(bytes[i++]) != b)
            return false;
    return true;
}

} // namespace

DecodedText DecodeIniText(const QByteArray &bytes)
{
    if (startsWith(bytes, {0xFF, 0xFE})) {
        QStringDecoder decoder(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless);
        return {decoder.decode(QByteArrayView(bytes).sliced(2)), IniEncoding::Utf16LeBom};
    }
    if (startsWith(bytes, {0xEF, 0xBB, 0xBF})) {
        QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        return {decoder.decode(QByteArrayView(bytes).sliced(3)), IniEncoding::Utf8Bom};
    }
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return {text, IniEncoding::Utf8};
    QStringDecoder legacy(kGb18030, QStringConverter::Flag::Stateless);
    return {legacy.decode(bytes), IniEncoding::Gb18030};
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
