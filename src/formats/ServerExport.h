#pragma once

#include "RdpCommon.h"

#include <QString>
#include <QStringList>
#include <vector>

// Writing servers out as ".rdp" files for the Windows Remote Desktop client and
// the other clients that read them. Passwords are never written.

// A file name for the server: its description, else its address, with the
// characters that no file name may hold replaced; ".rdp" appended.
QString RdpFileNameFor(const TSvrItem &server);
// Writes one server's file at that path, replacing a file that is there.
// Throws an AppError when the file cannot be written.
void ExportServer(const TSvrItem &server, const QString &path);
// Writes one file per server into the folder; a name that is taken already (by
// a file there, or by another server of the list, regardless of case) gets " (2)", " (3)" ... added.
// Returns the paths written. Throws an AppError at the first file that cannot be written.
QStringList ExportServers(const std::vector<PSvrItem> &servers, const QString &folder);
