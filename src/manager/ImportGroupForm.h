#pragma once

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;

// What the files offer: the text saying what was found, the groups to choose
// from, whether the files' servers lie in groups of their own, and how many
// passwords wait for a master password.
struct TImportOffer {
    QString Found;
    QStringList Groups;
    bool FileGroups = false;
    int Sealed = 0;
};

// What the user chose: the group for the servers (for those of no group of their
// file, when the files' groups are kept), and the master password typed (empty for none).
struct TImportChoice {
    QString Group;
    bool KeepFileGroups = false;
    QString Master;
};

// Asks into which group the servers found in the files go: one of the groups, the
// servers of no group, or a new group of the name typed; whether the files' own
// groups are kept; and, when the files hold passwords sealed with a master
// password of their owner's, that master password.
class TfrmImportGroup : public QDialog {
    Q_OBJECT
public:
    TfrmImportGroup(QWidget *owner, const TImportOffer &offer);

    QLabel *lblFound;
    QComboBox *cbbTarget;
    QCheckBox *chkKeepGroups;
    QLabel *lblMaster;
    QLineEdit *edtMaster;
    QDialogButtonBox *btnBox;

    // A blank group name is refused, and the dialog stays.
    void done(int result) override;

protected:
    // Return in the group's field confirms at once, as in any other field.
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// Runs the dialog; `choice.Group` is the entry shown first, and on confirmation
// the group chosen or typed (trimmed).
bool AskImportGroup(QWidget *owner, const TImportOffer &offer, TImportChoice &choice);
