#include "KeyringOption.h"

#include "ProgramSettings.h"

namespace {

const QString kKey = QStringLiteral("Passwords/InKeyring");

} // namespace

bool PasswordsInKeyring()
{
    return ProgramSettings().value(kKey, false).toBool();
}

void SetPasswordsInKeyring(bool on)
{
    QSettings settings = ProgramSettings();
    settings.setValue(kKey, on);
    settings.sync();
}
