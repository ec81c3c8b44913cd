#pragma once

#include "WebBrowser.h"

// The control put where a web page would be when the web engine module cannot be
// loaded: it says why in the page's place, keeps the address it was sent to and
// loads nothing, so that the windows and the manager work on without pages.
class WebPageUnavailable : public WebBrowser {
    Q_OBJECT
public:
    WebPageUnavailable(const QString &why, QWidget *parent);

    void Navigate(const QString &url) override;
    void GoBack() override;
    void GoForward() override;
    void Refresh() override {}
    void Stop() override {}
    QString LocationURL() const override;
    QString DocumentTitle() const override { return QString(); }
    void SetSilent(bool silent) override;
    bool Silent() const override;
    void SetContextMenuEnabled(bool) override {}
    bool Busy() const override { return false; }

private:
    QString url_;
    bool silent_ = false;
};
