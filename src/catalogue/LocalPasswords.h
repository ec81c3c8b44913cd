#pragma once

#include "IniFile.h"

#include <QHash>
#include <QList>
#include <QString>
#include <utility>
#include <vector>

// The passwords one administrator keeps for the servers of a shared catalogue:
// never in the database, but in a file of their own on their own machine,
// one section per shared server id ("Server17", key "Password", encoded as in
// the server list file). One file per catalogue, in a folder only its user enters.
class LocalPasswords {
public:
    explicit LocalPasswords(const QString &fileName);
    // Whether the text has the form of the ids the program gives catalogues:
    // 32 lower-case hexadecimal digits.
    static bool IsCatalogueId(const QString &catalogueId);
    // The file for the catalogue of this id under the user's configuration folder.
    // Throws AppError for an id of any other form: it comes from the database.
    static QString FileFor(const QString &catalogueId);

    const QString &fileName() const { return file_.fileName(); }
    // Every password held, by server id; the file is read again whenever it changed
    // on disk, so that what another running copy of the program saved is seen.
    const QHash<int, QString> &all();
    // Reads the file again if it changed on disk; the ids whose password it changed.
    QList<int> refresh();
    QString password(int serverId) { return all().value(serverId); }
    // Stores the passwords given (an empty one erases the server's entry) in one write.
    void set(const std::vector<std::pair<int, QString>> &passwords);

private:
    struct Stamp {
        bool exists = false;
        unsigned long long inode = 0;
        long long size = 0;
        long long modifiedNs = 0;
        long long changedNs = 0;
        bool operator==(const Stamp &) const = default;
    };
    Stamp stampOfFile() const;
    void read();

    IniFile file_;
    QHash<int, QString> passwords_;
    Stamp stamp_;
    bool read_ = false;
};
