#pragma once

#include "ImportRecord.h"

#include <QByteArray>
#include <QString>

// Connection files of the Windows Remote Desktop client (".rdp"): one server per
// file, one setting per line as "name:type:value", type s (text), i (integer) or
// b (binary). Lines this program has no use for are passed over.

// Reads one such file. The server's description is the file's base name.
// Throws an AppError when the bytes are not such a file or a setting is damaged.
TImportResult ReadRdpFile(const QByteArray &bytes, const QString &fileName);

// The file for a server, without its password, as the Windows client writes it:
// UTF-16 LE with a byte order mark, lines ending in CR LF.
QByteArray WriteRdpFile(const TClientSettings &settings);
