#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

// The small dialog that asks for a group's name.
class TfrmGrpName : public QDialog {
    Q_OBJECT
public:
    explicit TfrmGrpName(QWidget *owner);

    QLineEdit *edtGrp;
    QPushButton *btnOK;
};

// Asks for a group name, starting with `name`. On confirmation `name` holds the
// text exactly as typed (it may be empty) and the result is true.
bool AskGroupName(QWidget *owner, QString &name);
