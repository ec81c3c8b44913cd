#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class Catalogue;

// What the command line asks of the server list file.
struct ServerListOptions {
    QString file;       // "--file PATH": this file instead of the default one, as an absolute path
    QString database;   // "--database postgresql://...": a catalogue shared in a database
    QString importFile; // "--import FILE": copy this server list file into the database, then end
    QString exportFile; // "--export FILE": write the database's catalogue into this new file, then end
    QString connect;    // "--connect HOST[:PORT]": open a session with this server and nothing else
    QString rdpFile;    // "FILE.rdp": open a session with the server of this connection file, as an absolute path
    bool help = false;
    bool version = false; // "--version": print the program's version, then end
    QString error;        // the command line's mistake, for the user

    // True when the program is to open one session window and no manager.
    bool OpensSession() const { return !connect.isEmpty() || !rdpFile.isEmpty(); }
};
// Reads "--file PATH", "--database ADDRESS", "--connect ADDRESS" (each also with "="), a
// connection file (an argument ending in ".rdp"), "--help" and "--version" from the program's
// arguments (the first is the program itself); any other argument is left to the toolkit.
ServerListOptions ParseServerListOptions(const QStringList &arguments);
QString ServerListUsage(const QString &program);

// The catalogue the options choose: the command line first, then the settings,
// then the server list file beside the program.
std::unique_ptr<Catalogue> MakeChosenCatalogue(const ServerListOptions &options);

// Runs --import or --export and prints the summary; the program's exit code.
int RunCatalogueTransfer(int argc, char *argv[], const ServerListOptions &options);

// Applies the command line of main() before anything else runs: installs the
// catalogue it chooses, or prints the help, the version or the mistake, before any
// window or display is needed; a session asked for on the command line runs to its
// end here. Returns the exit code when the program is to end at once.
std::optional<int> ApplyServerListOptions(int argc, char *argv[]);
