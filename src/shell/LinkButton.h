#pragma once

#include <QPushButton>

// The manager's button that opens the project's home page in the desktop's web browser.
class TLinkButton : public QPushButton {
    Q_OBJECT
public:
    explicit TLinkButton(QWidget *parent = nullptr);

private:
    void sBitBtn1Click();
};
