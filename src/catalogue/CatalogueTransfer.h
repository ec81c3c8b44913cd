#pragma once

#include <QString>

// Moving a catalogue between the server list file and a shared database, whole.
struct CatalogueCopySummary {
    int groups = 0;
    int servers = 0;
    int groupsRenumbered = 0; // ids the database had given out already: new ids
    int serversRenumbered = 0;
    int passwords = 0; // passwords kept in this user's own password file (import) or the file (export)
    QString text(const QString &from, const QString &to) const;
};

// Copies the groups and servers of a server list file into a database, ids kept
// where the database has them free, servers following their groups' new ids.
// Passwords go to this user's own password file, never into the database.
CatalogueCopySummary ImportIniIntoDatabase(const QString &iniFile, const QString &database);
// Writes a database's catalogue, with this user's passwords, into a new server list file.
CatalogueCopySummary ExportDatabaseToIni(const QString &database, const QString &iniFile);
