#include "ProgramSettings.h"

QSettings ProgramSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("brennic"),
                     QStringLiteral("brennic"));
}
