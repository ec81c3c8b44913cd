#pragma once

#include "ImportRecord.h"

#include <QByteArray>
#include <QString>

// The connection list of mRemoteNG ("confCons.xml"): nested Node elements, of
// Type "Container" (a folder) or "Connection", with their settings as attributes;
// a connection may inherit any of them from its folder. Only RDP connections are
// imported; folders become groups named by their path. Passwords sealed with
// mRemoteNG's default master password are opened; those sealed with a master
// password of the user's own are kept sealed in the record for the user to open.
// A file encrypted as a whole cannot be read at all.
TImportResult ReadConfConsFile(const QByteArray &bytes, const QString &fileName);
