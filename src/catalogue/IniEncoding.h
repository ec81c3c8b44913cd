#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The character encodings a server list file may come in. Files written on Windows
// are UTF-16 LE with a byte-order mark or the Chinese legacy code page (GB18030);
// earlier versions of this program wrote UTF-8 without a mark. Files this program
// creates are UTF-16 LE with a mark: the one form that is never ambiguous and that
// the Windows profile functions read and write as Unicode.
enum class IniEncoding {
    Utf8,
    Utf8Bom,
    Utf16LeBom,
    Gb18030
};

inline constexpr IniEncoding NewFileEncoding = IniEncoding::Utf16LeBom;

struct DecodedText {
    QString text;
    IniEncoding encoding = IniEncoding::Utf8;
};

// The encoding of a file: by its byte-order mark; without one, UTF-8 or GB18030,
// whichever reads its non-ASCII lines as more plausible Chinese text. A lone stray
// byte weighs one character, so it never turns the whole file.
IniEncoding DetectIniEncoding(QByteArrayView bytes);

// The whole file decoded, byte-order mark excluded, one text line per line of the
// file. A line that is not valid in the file's encoding but is in the other 8-bit
// one (UTF-8 written into a GB18030 file, or the reverse) is read in that one.
DecodedText DecodeIniText(const QByteArray &bytes);
// The same for the bytes after the mark, or whole lines of them, in a known encoding.
// Lines decode each on their own, so a run of whole lines reads as it does within
// the file.
QString DecodeIniBody(QByteArrayView body, IniEncoding encoding);

// Bytes that are not valid in the encoding become U+FFFD; `clean` tells whether any
// did. So do a character cut off by the end of the bytes and, in UTF-16, a lone
// surrogate, so that bytes read the same whatever may later follow them.
QString DecodeIniBytes(QByteArrayView bytes, IniEncoding encoding, bool *clean = nullptr);
QByteArray IniByteOrderMark(IniEncoding encoding);
QByteArray EncodeIniBody(const QString &text, IniEncoding encoding);
// Bytes per code unit: 2 for UTF-16, else 1.
inline int IniUnitSize(IniEncoding encoding) { return encoding == IniEncoding::Utf16LeBom ? 2 : 1; }
// The end of the line of encoded text that starts at `from`: the offset of its
// '\n' code unit, or the end of the bytes.
qsizetype IniLineEnd(QByteArrayView bytes, qsizetype from, int unitSize);
