#pragma once

#include <QDialog>

class QTextBrowser;

// The program's own about page, in a window of its own: what the program is and
// where the address of the link button is set.
class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget *parent = nullptr);

    QTextBrowser *Page() const { return txtAbout; }

private:
    QTextBrowser *txtAbout;
};

// Shows the about page over the given window; one page per window, raised when
// it is open already.
TAboutForm *ShowAboutPage(QWidget *over);

// The link button's and the banner's way out: the address set as the home page in
// the desktop's browser, or the about page while none is set.
void OpenHomePage(QWidget *from);
