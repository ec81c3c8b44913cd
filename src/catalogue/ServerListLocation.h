#pragma once

#include <QString>

// Where the server list file lives. Beside the executable is the portable layout:
// used when a "SvrList.ini" is there, or when that folder is writable. Otherwise
// (the program installed in a system folder and run by a user) the file is
// $XDG_CONFIG_HOME/brennic/SvrList.ini, in a folder only its user can enter; the
// folder is made when it is chosen.
QString DefaultServerListFile(const QString &programFolder);
// $XDG_CONFIG_HOME/brennic/<name> (~/.config when unset), made with its parents
// for its user alone when missing.
QString PrivateConfigFolder(const QString &name);

// The database the user's settings name for the catalogue (key Catalogue/Database of
// $XDG_CONFIG_HOME/brennic/brennic.conf); empty for the server list file.
QString DatabaseSetting();
