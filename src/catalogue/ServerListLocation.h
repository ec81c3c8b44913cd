#pragma once

#include <QString>

// Where the server list file lives: $XDG_CONFIG_HOME/brennic/SvrList.ini, in a
// folder only its user can enter, made when it is chosen. A "SvrList.ini" already
// beside the executable is the portable layout and is used instead. A folder that
// is merely writable (a build tree) gets no list of its own: deleting it must not
// delete the user's servers.
QString DefaultServerListFile(const QString &programFolder);
// $XDG_CONFIG_HOME/brennic/<name> (~/.config when unset), made with its parents
// for its user alone when missing.
QString PrivateConfigFolder(const QString &name);

// The database the user's settings name for the catalogue (key Catalogue/Database of
// $XDG_CONFIG_HOME/brennic/brennic.conf); empty for the server list file.
QString DatabaseSetting();
