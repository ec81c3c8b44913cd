#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QUrl;

// The box a page's script opens with alert(), confirm() or prompt(). It names the
// page's origin, so the user sees that the page speaks and not the program, and it
// offers to stop further boxes from that page, so a page that chains them cannot
// hold the window. It belongs to its tab, as in a web browser: it lies over the
// page, which takes no input meanwhile, and the other tabs and the manager go on
// working; it shows with its tab and hides when another tab is chosen.
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

    // Shows the box over parent (the page's control) and waits, handling events,
    // until the user answers or the box goes; returns what the user chose.
    static Answer Ask(QWidget *parent, Kind kind, const QUrl &origin, const QString &message,
                      const QString &defaultText = QString());

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // At the top of the page, across its middle.
    void Place();

    QLineEdit *edtText = nullptr;
    QCheckBox *chkBlock = nullptr;
};
