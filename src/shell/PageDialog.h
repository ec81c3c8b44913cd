#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QUrl;

// The box a page's script opens with alert(), confirm() or prompt(). It names the
// page's origin, so the user sees that the page speaks and not the program, and it
// offers to stop further boxes from that page, so a page that chains them cannot
// hold the window.
class TPageDialog : public QDialog {
    Q_OBJECT
public:
    enum class Kind {
        Alert,
        Confirm,
        Prompt
    };
    struct Answer {
        bool accepted = false;
        QString text; // what the user typed (prompt)
        bool blockFurther = false;
    };

    TPageDialog(QWidget *parent, Kind kind, const QUrl &origin, const QString &message,
                const QString &defaultText = QString());

    // Runs the box modally and returns what the user chose.
    static Answer Ask(QWidget *parent, Kind kind, const QUrl &origin, const QString &message,
                      const QString &defaultText = QString());

private:
    QLineEdit *edtText = nullptr;
    QCheckBox *chkBlock = nullptr;
};
