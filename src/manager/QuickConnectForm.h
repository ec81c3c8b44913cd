#pragma once

#include "RdpCommon.h"

#include <QDialog>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;

// Asks for the user name and password of an address that is in no server's
// record, and whether to add it to the list.
class TfrmQuickConnect : public QDialog {
    Q_OBJECT
public:
    explicit TfrmQuickConnect(QWidget *owner, const QString &address);

    QLabel *lblServer;
    QLineEdit *edtUser;
    QLineEdit *edtPwd;
    QCheckBox *chkAdd;
    QDialogButtonBox *btnBox;

    // Confirming with an empty user name or password is refused with the same
    // words as connecting to a listed server, and the dialog stays.
    void done(int result) override;
};

// Runs the dialog for `settings.Server`. On confirmation `settings` holds the
// user name and password and `add` whether the user wants the server listed.
bool AskQuickConnect(QWidget *owner, TClientSettings &settings, bool &add);
