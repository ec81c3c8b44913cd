#pragma once

#include <QPushButton>

// The manager's button that opens the home page set by the user in the desktop's
// web browser, or the program's about page while none is set.
class TLinkButton : public QPushButton {
    Q_OBJECT
public:
    explicit TLinkButton(QWidget *parent = nullptr);

private:
    void sBitBtn1Click();
};
