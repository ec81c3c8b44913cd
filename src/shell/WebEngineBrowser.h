#pragma once

#include "WebBrowser.h"

#include <QElapsedTimer>
#include <QList>
#include <QSet>
#include <memory>

class QWebEngineNewWindowRequest;
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
    bool Busy() const override;

    // How many new windows one page may open within NewWindowSpanMs.
    static constexpr int MaxNewWindows = 4;
    static constexpr qint64 NewWindowSpanMs = 10000;

    QWebEngineView *View() const { return view_; }

private:
    friend class WebEnginePage;
    void OnNewWindowRequested(QWebEngineNewWindowRequest &request);
    bool NewWindowAllowed(bool userInitiated);
    bool RequestLinkNavigation(const QUrl &url);
    void OnLoadStarted();
    void OnLoadFinished();
    void OnCloseRequested();
    // A script's alert, confirm or prompt; false when the user has stopped the
    // page's boxes or cancelled. The typed text goes to *text (prompt).
    bool PageDialog(int kind, const QUrl &origin, const QString &message, const QString &defaultText = QString(),
                    QString *text = nullptr);

    QWebEngineView *view_;
    WebEnginePage *page_;
    bool silent_ = false;
    bool openedByScript_ = false;
    bool busy_ = false;
    QElapsedTimer clock_;
    QList<qint64> newWindowTimes_;  // when the last allowed new windows were opened
    QSet<QString> silencedOrigins_; // pages whose boxes the user has stopped
    QString documentTitle_;
    int loadSerial_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
