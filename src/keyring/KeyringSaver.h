#pragma once

#include <QList>
#include <QObject>

class Keyring;
struct KeyringMoveReport;

// Follows every password the installed catalogue stores: while passwords are kept
// in the keyring, each new or changed one goes there and its field in the file is
// cleared once the keyring holds it. The file first takes the password as always,
// so a keyring that fails or is missing loses nothing: the file keeps it.
class KeyringSaver : public QObject {
    Q_OBJECT
public:
    explicit KeyringSaver(Keyring &keyring, QObject *parent = nullptr);

    // The servers whose stored passwords are now in the file; moved when the option is on.
    void passwordsStored(const QList<int> &serverIds);
    // Nothing left to move.
    bool idle() const { return !running_ && waiting_.isEmpty(); }

signals:
    // A move came to an end; its report says what stayed in the file.
    void moved(const KeyringMoveReport &report);

private:
    void runWaiting();

    Keyring &keyring_;
    QList<int> waiting_;
    bool running_ = false;
};
