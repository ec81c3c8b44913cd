#include "DisconnectReasons.h"

QString DisconnectReasonText(int discReason)
{
    switch (discReason) {
    case 0: return QStringLiteral("NoInfo.");
    case 1: return {};
    case 2: return {};
    case 3: return QStringLiteral("ReasonServerIdleTimeout.");
    case 4: return QStringLiteral("ReasonServerLogonTimeout.");
    case 5: return QStringLiteral("ReasonReplacedByOtherConnection.");
    case 6: return QStringLiteral("ReasonOutOfMemory.");
    case 7: return QStringLiteral("ReasonServerDeniedConnection.");
    case 256: return QStringLiteral("ReasonLicenseInternal.");
    case 257: return QStringLiteral("ReasonLicenseNoLicenseServer.");
    case 258: return QStringLiteral("ReasonLicenseNoLicense.");
    case 259: return QStringLiteral("ReasonLicenseErrClientMsg.");
    case 260: return QStringLiteral("ReasonLicenseHwidDoesntMatchLicense.");
    case 261: return QStringLiteral("ReasonLicenseErrClientLicense.");
    case 262: return QStringLiteral("ReasonLicenseCantFinishProtocol.");
    case 263: return QStringLiteral("ReasonLicenseClientEndedProtocol.");
    case 264: return QStringLiteral("ReasonLicenseErrClientEncryption.");
    case 265: return QStringLiteral("ReasonLicenseCantUpgradeLicense.");
    case 266: return QStringLiteral("ReasonLicenseNoRemoteConnections.");
    case 0x1000: return QStringLiteral("ReasonProtocolRangeStart.");
    case 0x7FFF: return QStringLiteral("ReasonProtocolRangeEnd.");
    }
    return QStringLiteral("已断开");
}
