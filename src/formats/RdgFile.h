#pragma once

#include "ImportRecord.h"

#include <QByteArray>
#include <QString>

// Server lists of Remote Desktop Connection Manager (".rdg"): XML with nested
// groups of servers, each with its host name, display name, logon credentials,
// port and display settings, any of which a server may inherit from its group.
// Both the older layout (a server's name directly under it) and the newer one
// (under its "properties") are read. Passwords are encrypted for the user and
// machine that stored them and cannot be read, except those stored as clear text.
TImportResult ReadRdgFile(const QByteArray &bytes, const QString &fileName);
