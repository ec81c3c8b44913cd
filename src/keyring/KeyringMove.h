#pragma once

#include "PasswordFields.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <memory>
#include <vector>

class Catalogue;
class Keyring;
struct KeyringAnswer;

// What a move of passwords between the file and the keyring came to.
struct KeyringMoveReport {
    bool intoKeyring = true;
    int moved = 0;
    QStringList failed;       // "server: reason", one per password left where it was
    bool unavailable = false; // no keyring was running; the file keeps its passwords
    QString summary() const;
};
Q_DECLARE_METATYPE(KeyringMoveReport)

// Moves a catalogue's passwords between its file and the desktop keyring, one
// server after the other without waiting on anything, and reports once when done.
// Nothing is lost when it stops midway: into the keyring, a field is cleared only
// after the keyring took its password; back, a keyring entry is removed only after
// the file holds its password again. The copies in memory follow the file.
class KeyringMove : public QObject {
    Q_OBJECT
public:
    KeyringMove(Catalogue &catalogue, Keyring &keyring, QObject *parent = nullptr);
    ~KeyringMove() override;

    // Every password the file holds, or those of the servers given.
    void allIntoKeyring();
    void intoKeyring(const QList<int> &serverIds);
    // Every password the keyring holds for a server whose field is empty.
    void allIntoFile();

signals:
    void finished(const KeyringMoveReport &report);

private:
    struct Entry {
        int serverId;
        QString password;
    };
    void startInto(std::vector<Entry> entries);
    void writeNext();
    void finishInto();
    void readNext();
    void finishBack();
    void removeNext();
    void fail(int serverId, const QString &reason);
    // Stops on an answer that says no keyring runs; true when it did.
    bool stopsOn(const KeyringAnswer &answer);
    void applyToMemory(const QList<int> &ids, bool cleared);
    void done();

    QPointer<Catalogue> catalogue_;
    Keyring &keyring_;
    std::unique_ptr<PasswordFields> fields_;
    std::vector<Entry> entries_;
    size_t next_ = 0;
    std::vector<PasswordFields::Change> changes_;
    QList<int> applied_;
    KeyringMoveReport report_;
};
