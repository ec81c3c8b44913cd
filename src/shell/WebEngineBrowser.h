#pragma once

#include "WebBrowser.h"

#include <QElapsedTimer>
#include <QList>
#include <QSet>
#include <QUrl>
#include <memory>

class QWebEngineNewWindowRequest;
class QWebEngineView;
class WebEnginePage;

// The web-browser control over Qt WebEngine.
//
// At start-up the engine can be held back (HoldPages): controls made while it is
// held get their page, and load the address they were sent to, only when
// ReleasePages runs, so that the engine's own start does not delay the windows'
// first paint. Until then a control shows an empty area and reports its address.
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

    bool InPageDialog() const override { return pageDialogs_ > 0; }
    void DismissPageDialogs() override;

    // Null while the control waits for ReleasePages.
    QWebEngineView *View() const { return view_; }

    static void HoldPages();
    // The waiting controls make their pages in the order they were made; controls
    // made from now on make theirs at once. Does nothing when nothing is held.
    static void ReleasePages();

private:
    void CreatePage();
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

    QWebEngineView *view_ = nullptr;
    WebEnginePage *page_ = nullptr;
    QUrl pendingUrl_; // sent to before the page exists
    bool contextMenuEnabled_ = true;
    bool silent_ = false;
    bool openedByScript_ = false;
    bool busy_ = false;
    QElapsedTimer clock_;
    QList<qint64> newWindowTimes_;  // when the last allowed new windows were opened
    QSet<QString> silencedOrigins_; // pages whose boxes the user has stopped
    QString documentTitle_;
    int loadSerial_ = 0;
    int pageDialogs_ = 0; // the page's boxes being waited for
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
