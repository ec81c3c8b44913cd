#pragma once

#include <QByteArray>
#include <QString>

// The character encodings a server list file may come in. Files written on Windows
// are UTF-16 LE with a byte-order mark or the Chinese legacy code page; ours are UTF-8.
enum class IniEncoding { Utf8, Utf8Bom, Utf16LeBom, Gb18030 };

struct DecodedText {
    QString text;
    IniEncoding encoding = IniEncoding::Utf8;
};

// Recognises the encoding by its byte-order mark, else by whether the bytes are valid UTF-8.
DecodedText DecodeIniText(const QByteArray &bytes);
// Text is written as the byte-order mark followed by the encoded body.
QByteArray IniByteOrderMark(IniEncoding encoding);
QByteArray EncodeIniBody(const QString &text, IniEncoding encoding);
