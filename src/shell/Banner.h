#pragma once

#include <QWidget>

class WebBrowser;

// The manager's 468 x 60 web banner. A right click shows no menu; a followed link,
// also one that asks for a new window, opens in the desktop's web browser, not in
// the banner or in a tab; a link to the about page opens the home page as the link
// button does.
class TBanner : public QWidget {
    Q_OBJECT
public:
    explicit TBanner(QWidget *parent = nullptr, const QString &page = QString());

    WebBrowser *Browser() const { return WebBrowser1; }

private:
    void WebBrowser1BeforeNavigate2(const QString &url, bool *cancel);
    void OpenLink(const QString &url);

    WebBrowser *WebBrowser1;
};
