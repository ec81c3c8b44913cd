#pragma once

#include "ImportRecord.h"

#include <QByteArray>
#include <QString>

// The connection list of mRemoteNG ("confCons.xml"): nested Node elements, of
// Type "Container" (a folder) or "Connection", with their settings as attributes;
// a connection may inherit any of them from its folder. Only RDP connections are
// imported. Passwords are always encrypted with the program's master password and
// cannot be read; a file encrypted as a whole cannot be read at all.
TImportResult ReadConfConsFile(const QByteArray &bytes, const QString &fileName);
