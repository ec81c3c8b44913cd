#pragma once

#include "RdpCommon.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabBar;
class QTimer;

// The dialog in which a server's settings are entered or changed.
class TfrmEdit : public QDialog {
    Q_OBJECT
public:
    explicit TfrmEdit(QWidget *owner);

    QTabBar *tbcSett;
    QGroupBox *grpConn;
    QGroupBox *grpDisp;
    QLabel *lblDesc;
    QLineEdit *edtDesc;
    QPushButton *btnOK;
    QPushButton *btnCancel;
    QTimer *tmrUpdate;
    QLabel *lblServer;
    QLineEdit *edtSvr;
    QLabel *lblPort;
    QLineEdit *edtPort;
    QLabel *lblUser;
    QLineEdit *edtUser;
    QLabel *lblPwd;
    QLineEdit *edtPwd;
    QLabel *lblWidth;
    QLineEdit *edtWidth;
    QLabel *lbl1;
    QLabel *lblHeight;
    QLineEdit *edtHeight;
    QCheckBox *chkFullScr;
    QLabel *lblColors;
    QComboBox *cbbColors;

    void FormCreate();
    void tbcSettChange();
    void tmrUpdateTimer();
    // A confirmation is refused, with everything typed kept, while the address is
    // blank or a number field holds no whole number.
    bool FormCloseQuery();

    void done(int result) override;

private:
    bool refuse(const QString &message, int tab, QLineEdit *field);
};

// Runs the dialog over `settings` and `description` (filled in from them when
// settings.Server is not empty) and writes both back when the user confirms.
bool EditServerSettings(QWidget *owner, TClientSettings &settings, QString &description);
