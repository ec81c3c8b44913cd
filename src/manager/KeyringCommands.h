#pragma once

#include "RdpCommon.h"

#include <QObject>

class QAction;
class QMenu;
class QStatusBar;
class QWidget;
class Keyring;
class KeyringSaver;
struct KeyringMoveReport;

// The manager's keyring commands: the option that keeps new and changed passwords
// in the desktop keyring, moving every password of the catalogue there or back into
// the file, and the password a connection takes from the keyring when the file
// holds none. No keyring running is said once, in the status bar.
class TKeyringCommands : public QObject {
    Q_OBJECT
public:
    // The commands join the end of menu; what they report goes to status and to
    // boxes over window, which also owns them.
    TKeyringCommands(QMenu *menu, QStatusBar *status, QWidget *window);
    ~TKeyringCommands() override;

    QAction *actKeyringOption;
    QAction *actKeyringMoveIn;
    QAction *actKeyringMoveOut;

    // For a server whose password field is empty while passwords are kept in the
    // keyring: asks the keyring, and connects when it answers with one. False when
    // the keyring is not to be asked; the caller goes on as without it.
    bool ConnectFromKeyring(int serverId, const TClientSettings &settings);

    Keyring &Ring() { return *keyring_; }

signals:
    // The keyring answered with the password the connection lacked.
    void sessionRequested(const TClientSettings &settings);

private:
    void actKeyringOptionToggled(bool on);
    void move(bool intoKeyring);
    void moved(const KeyringMoveReport &report);
    void keyringMissing();
    void UpdateActions();

    QStatusBar *status_;
    QWidget *window_;
    Keyring *keyring_;
    KeyringSaver *saver_;
    bool moving_ = false;
};
