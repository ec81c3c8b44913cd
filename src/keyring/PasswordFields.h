#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <memory>
#include <vector>

class Catalogue;

// The fields in which a catalogue keeps its passwords on this machine: the
// Password keys of the server list file, or, for a shared catalogue, the user's own
// password file. Read and written here directly, field by field, leaving every other
// byte of the file as it is; the store's other keys are not touched.
class PasswordFields {
public:
    struct Change {
        int serverId;
        QString from; // what the field must still hold
        QString to;   // empty: no password in the file
    };

    static std::unique_ptr<PasswordFields> Of(Catalogue &catalogue);
    virtual ~PasswordFields() = default;

    // The name of the server's entry in the keyring: the catalogue (its file's path,
    // or the shared catalogue's id) and the server's id, which a rename keeps.
    virtual QString keyOf(int serverId) const = 0;
    // The passwords the file holds, by server id; empty fields left out.
    virtual QHash<int, QString> read() = 0;
    // Makes each change whose field still holds `from`, in one write; the ids changed.
    // Throws AppError when the file cannot be written.
    virtual QList<int> replace(const std::vector<Change> &changes) = 0;
};
