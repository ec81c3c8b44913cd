#pragma once

#include "RdpCommon.h"

#include <QDialog>
#include <functional>

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

    // Stores what was confirmed before the dialog closes; a failure (AppError) is
    // shown and the dialog stays open with everything typed, for another try.
    using Saver = std::function<void(const TClientSettings &settings, const QString &description)>;
    void SetSaver(Saver saver, TClientSettings base);
    // The settings as typed, over the ones the dialog was opened with.
    TClientSettings TypedSettings() const;

private:
    bool refuse(const QString &message, int tab, QLineEdit *field);
    bool save();

    Saver saver_;
    TClientSettings base_;
};

// Runs the dialog over `settings` and `description` (filled in from them when
// settings.Server is not empty) and writes both back when the user confirms.
// With a saver, the confirmation is stored before the dialog closes.
bool EditServerSettings(QWidget *owner, TClientSettings &settings, QString &description,
                        const TfrmEdit::Saver &saver = {});
