#include "ProgramSettings.h"

QSettings ProgramSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("brennic"),
                     QStringLiteral("brennic"));
}

bool ProgramFlag(const QString &key)
{
    return ProgramSettings().value(key, false).toBool();
}

void SetProgramFlag(const QString &key, bool on)
{
    QSettings settings = ProgramSettings();
    settings.setValue(key, on);
    settings.sync();
}
