#pragma once

#include "WebBrowser.h"

#include <memory>

class QWebEngineView;
class WebEnginePage;

// The web-browser control over Qt WebEngine.
class WebEngineBrowser : public WebBrowser {
    Q_OBJECT
public:
    explicit WebEngineBrowser(QWidget *parent = nullptr);
    ~WebEngineBrowser() override;

    void Navigate(const QString &url) override;
    void GoBack() override;
    void GoForward() override;
    void Refresh() override;
    void Stop() override;
    QString LocationURL() const override;
    QString DocumentTitle() const override;
    void SetSilent(bool silent) override;
    bool Silent() const override;
    void SetContextMenuEnabled(bool enabled) override;

    QWebEngineView *View() const { return view_; }

private:
    friend class WebEnginePage;
    WebEnginePage *RequestNewWindow();
    bool RequestLinkNavigation(const QUrl &url);
    void OnLoadFinished();
    void OnCloseRequested();

    QWebEngineView *view_;
    WebEnginePage *page_;
    bool silent_ = false;
    bool openedByScript_ = false;
    QString documentTitle_;
    int loadSerial_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
