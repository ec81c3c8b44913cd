#include "RdpConst.h"

const std::array<QString, ColorDepthCount> ColorDepthNames = {
    QStringLiteral("256 Colors"),
    QStringLiteral("High Color (15 bit)"),
    QStringLiteral("High Color (16 bit)"),
    QStringLiteral("True Color (24 bit)"),
    QStringLiteral("Highest Quality (32 bit)"),
};
