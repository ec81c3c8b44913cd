#pragma once

#include <QString>
#include <QList>
#include <QStringList>
#include <memory>
#include <optional>

class Catalogue;

// One session the command line asks for: "--connect ADDRESS" or a connection file.
struct SessionRequest {
    enum class Kind {
        Address,
        File
    };
    Kind kind = Kind::Address;
    QString value; // the address as given, or the file as an absolute path
    bool operator==(const SessionRequest &) const = default;
};

// The most sessions one command line opens.
inline constexpr int MaxCommandLineSessions = 64;

// What the command line asks of the server list file.
struct ServerListOptions {
    QString file;       // "--file PATH": this file instead of the default one, as an absolute path
    QString database;   // "--database postgresql://...": a catalogue shared in a database
    QString importFile; // "--import FILE": copy this server list file into the database, then end
    QString exportFile; // "--export FILE": write the database's catalogue into this new file, then end
    // "--connect HOST[:PORT]" and "FILE.rdp", each as often as wanted, in their order:
    // open a session window with each of these servers and nothing else
    QList<SessionRequest> sessions;
    bool help = false;
    bool version = false; // "--version": print the program's version, then end
    QString error;        // the command line's mistake, for the user

    // True when the program is to open session windows and no manager.
    bool OpensSession() const { return !sessions.isEmpty(); }
};
// Reads "--file PATH", "--database ADDRESS", "--connect ADDRESS" (each also with "="),
// connection files (arguments ending in ".rdp"), "--help" and "--version" from the program's
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
