#pragma once

#include <QString>

// Opens the address in the desktop's own web browser, outside the program.
// Raises AppError when the desktop cannot open it.
void OpenInExternalBrowser(const QString &Url);
