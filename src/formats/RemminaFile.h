#pragma once

#include "ImportRecord.h"

#include <QByteArray>
#include <QString>

// Connection profiles of the Linux client Remmina (".remmina"): one server per
// file, an ini file whose section "remmina" holds the keys. Only RDP profiles
// are imported; a stored password is encrypted with a key kept elsewhere (or
// lies in the desktop's keyring) and cannot be read.
TImportResult ReadRemminaFile(const QByteArray &bytes, const QString &fileName);
