#pragma once

#include <QDialog>
#include <QStringList>

class QComboBox;
class QDialogButtonBox;
class QLabel;

// Asks into which group the servers found in the files go: one of the groups, the
// servers of no group, or a new group of the name typed.
class TfrmImportGroup : public QDialog {
    Q_OBJECT
public:
    TfrmImportGroup(QWidget *owner, const QString &found, const QStringList &groups);

    QLabel *lblFound;
    QComboBox *cbbTarget;
    QDialogButtonBox *btnBox;

    // A blank group name is refused, and the dialog stays.
    void done(int result) override;
};

// Runs the dialog; `group` is the entry shown first, and on confirmation the
// group chosen or typed (trimmed).
bool AskImportGroup(QWidget *owner, const QString &found, const QStringList &groups, QString &group);
