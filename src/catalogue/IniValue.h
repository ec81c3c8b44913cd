#pragma once

#include <QStringView>
#include <optional>

// Reads an integer the way the server list file has always been read: optional
// leading blanks and sign, then decimal digits, or hexadecimal digits after one of
// "$", "x", "X", "0x", "0X" (at most eight significant ones, taken as 32 bits).
// Anything else, or a decimal value outside the signed 32-bit range, is no number.
std::optional<int> ParseIniInteger(QStringView text);

// The value of one hexadecimal digit of either case; -1 for any other character.
int HexDigitValue(QChar c);
