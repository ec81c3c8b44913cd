#pragma once

#include <QWidget>

class WebBrowser;

// The manager's 468 x 60 web banner. A right click shows no menu; a followed link
// opens in the desktop's web browser, not in the banner or in a tab.
class TBanner : public QWidget {
    Q_OBJECT
public:
    explicit TBanner(QWidget *parent = nullptr, const QString &page = QString());

    WebBrowser *Browser() const { return WebBrowser1; }

private:
    void WebBrowser1BeforeNavigate2(const QString &url, bool *cancel);

    WebBrowser *WebBrowser1;
};
