#pragma once

#include "IniFile.h"

#include <QHash>
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
    // Every password held, by server id; read from the file once, then kept.
    const QHash<int, QString> &all();
    QString password(int serverId) { return all().value(serverId); }
    // Stores the passwords given (an empty one erases the server's entry) in one write.
    void set(const std::vector<std::pair<int, QString>> &passwords);

private:
    IniFile file_;
    QHash<int, QString> passwords_;
    bool read_ = false;
};
