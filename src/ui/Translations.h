#pragma once

class QCoreApplication;

// Loads the toolkit's own Simplified Chinese translations (standard buttons such as
// "Yes", "Cancel" or "Close", and the standard dialogs) into the application, so they
// speak the language of the rest of the interface whatever the user's locale.
// Returns false when the translation files are not installed; the toolkit then
// speaks English.
bool InstallTranslations(QCoreApplication *application);
