#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Where the server list file lives: $XDG_CONFIG_HOME/brennic/SvrList.ini, in a
// folder only its user can enter, made when it is chosen. A "SvrList.ini" already
// beside the executable is the portable layout and is used instead. A folder that
// is merely writable (a build tree) gets no list of its own: deleting it must not
// delete the user's servers.
QString DefaultServerListFile(const QString &programFolder);
// $XDG_CONFIG_HOME/brennic/<name> (~/.config when unset), made with its parents
// for its user alone when missing.
QString PrivateConfigFolder(const QString &name);

// What the command line asks of the server list file.
struct ServerListOptions {
    QString file;       // "--file PATH": this file instead of the default one, as an absolute path
    QString database;   // "--database postgresql://...": a catalogue shared in a database
    QString importFile; // "--import FILE": copy this server list file into the database, then end
    QString exportFile; // "--export FILE": write the database's catalogue into this new file, then end
    bool help = false;
    bool version = false; // "--version": print the program's version, then end
    QString error;        // the command line's mistake, for the user
};
// Reads "--file PATH", "--database ADDRESS" (also with "="), "--help" and "--version" from the program's arguments
// (the first is the program itself); any other argument is left to the toolkit.
ServerListOptions ParseServerListOptions(const QStringList &arguments);
QString ServerListUsage(const QString &program);

// The database the user's settings name for the catalogue (key Catalogue/Database of
// $XDG_CONFIG_HOME/brennic/brennic.conf); empty for the server list file.
QString DatabaseSetting();

// Runs --import or --export and prints the summary; the program's exit code.
int RunCatalogueTransfer(int argc, char *argv[], const ServerListOptions &options);

// Applies the command line of main() before anything else runs: chooses the file
// or the database (the command line first, then the settings), or prints the help,
// the version or the mistake, before any window or display is needed. Returns the
// exit code when the program is to end at once.
std::optional<int> ApplyServerListOptions(int argc, char *argv[]);
