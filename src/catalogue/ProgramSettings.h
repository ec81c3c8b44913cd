#pragma once

#include <QSettings>

// The program's own settings, ~/.config/brennic/brennic.conf: every part of the
// program reads and writes its keys through this one file.
QSettings ProgramSettings();
