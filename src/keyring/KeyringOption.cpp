#include "KeyringOption.h"

#include "ProgramSettings.h"

namespace {

const QString kKey = QStringLiteral("Passwords/InKeyring");

} // namespace

bool PasswordsInKeyring()
{
    return ProgramFlag(kKey);
}

void SetPasswordsInKeyring(bool on)
{
    SetProgramFlag(kKey, on);
}
