#pragma once

#include <QSettings>

// The program's own settings, ~/.config/brennic/brennic.conf: every part of the
// program reads and writes its keys through this one file.
QSettings ProgramSettings();

// An on/off choice kept under key, off until set; setting it writes it at once.
bool ProgramFlag(const QString &key);
void SetProgramFlag(const QString &key, bool on);
