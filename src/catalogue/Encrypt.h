#pragma once

#include <QString>

// Passwords are kept in the server list file as hexadecimal text, XORed with a fixed
// 8-byte key: enough to keep them from being read at a glance, no more.
//
// A password whose characters are all below 256 is stored as two digits per
// character (the form every version of the program reads). A password with other
// characters is stored as "U16:" followed by four digits per UTF-16 code unit, so
// that it too comes back exactly as it was typed.
QString EncryptStr(const QString &clear);

// Throws EConvertError "''$xy'' is not a valid integer value" for a pair xy that
// is not two hexadecimal digits.
QString DecryptStr(const QString &encoded);
