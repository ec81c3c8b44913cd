#include "WebEngineBrowser.h"

#include "AppError.h"

#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

// The page of one control: routes Chromium's requests back to the control.
class WebEnginePage : public QWebEnginePage {
public:
    WebEnginePage(WebEngineBrowser *owner, QObject *parent) : QWebEnginePage(parent), owner_(owner) {}

protected:
    QWebEnginePage *createWindow(WebWindowType) override { return owner_->RequestNewWindow(); }

    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        if (type == NavigationTypeLinkClicked && isMainFrame)
            return owner_->RequestLinkNavigation(url);
        return true;
    }

    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int line,
                                  const QString &source) override
    {
        if (!owner_->Silent())
            QWebEnginePage::javaScriptConsoleMessage(level, message, line, source);
    }

private:
    WebEngineBrowser *owner_;
};

namespace {

// The raw text of the title element: document.title would collapse its spaces.
const QString TitleScript = QStringLiteral(
    "(function () {"
    "  var t = document.getElementsByTagName('title')[0];"
    "  return t ? t.textContent : (document.title || '');"
    "})()");

} // namespace

WebBrowser *CreateWebBrowser(QWidget *parent)
{
    return new WebEngineBrowser(parent);
}

WebEngineBrowser::WebEngineBrowser(QWidget *parent)
    : WebBrowser(parent), view_(new QWebEngineView(this)), page_(new WebEnginePage(this, view_))
{
    view_->setPage(page_);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    setFocusProxy(view_);
    connect(page_, &QWebEnginePage::loadFinished, this, &WebEngineBrowser::OnLoadFinished);
    // Queued: nothing may be asked or destroyed inside the engine's callback.
    connect(page_, &QWebEnginePage::windowCloseRequested, this, &WebEngineBrowser::OnCloseRequested,
            Qt::QueuedConnection);
}

// A page that goes while loading reports its end, and the engine answers pending
// scripts then: nothing of that reaches the owner of a control being destroyed.
WebEngineBrowser::~WebEngineBrowser()
{
    alive_.reset();
    blockSignals(true);
    page_->disconnect(this);
}

void WebEngineBrowser::Navigate(const QString &url)
{
    const QUrl target = QUrl::fromUserInput(url);
    if (!target.isValid())
        throw AppError(QStringLiteral("Invalid address: %1").arg(url));
    view_->load(target);
}

void WebEngineBrowser::GoBack()
{
    if (!page_->history()->canGoBack())
        throw AppError(QStringLiteral("There is no page to go back to."));
    page_->triggerAction(QWebEnginePage::Back);
}

void WebEngineBrowser::GoForward()
{
    if (!page_->history()->canGoForward())
        throw AppError(QStringLiteral("There is no page to go forward to."));
    page_->triggerAction(QWebEnginePage::Forward);
}

void WebEngineBrowser::Refresh()
{
    page_->triggerAction(QWebEnginePage::Reload);
}

void WebEngineBrowser::Stop()
{
    page_->triggerAction(QWebEnginePage::Stop);
}

QString WebEngineBrowser::LocationURL() const
{
    return page_->url().toString();
}

QString WebEngineBrowser::DocumentTitle() const
{
    return documentTitle_;
}

void WebEngineBrowser::SetSilent(bool silent)
{
    silent_ = silent;
}

bool WebEngineBrowser::Silent() const
{
    return silent_;
}

void WebEngineBrowser::SetContextMenuEnabled(bool enabled)
{
    view_->setContextMenuPolicy(enabled ? Qt::DefaultContextMenu : Qt::NoContextMenu);
}

WebEnginePage *WebEngineBrowser::RequestNewWindow()
{
    WebBrowser *target = nullptr;
    bool cancel = false;
    emit NewWindow2(&target, &cancel);
    auto *browser = qobject_cast<WebEngineBrowser *>(target);
    if (cancel || !browser)
        return nullptr;
    browser->openedByScript_ = true;
    return browser->page_;
}

bool WebEngineBrowser::RequestLinkNavigation(const QUrl &url)
{
    bool cancel = false;
    emit BeforeNavigate2(url.toString(), &cancel);
    return !cancel;
}

// The title is read from the document before the completion is reported, so that
// handlers can read it at once.
void WebEngineBrowser::OnLoadFinished()
{
    const int serial = ++loadSerial_;
    // The engine answers pending scripts also while the page goes with its control.
    std::weak_ptr<bool> alive = alive_;
    page_->runJavaScript(TitleScript, QWebEngineScript::ApplicationWorld, [this, alive, serial](const QVariant &title) {
        if (alive.expired() || serial != loadSerial_ || !title.isValid())
            return;
        documentTitle_ = title.toString();
        emit DocumentComplete();
    });
}

void WebEngineBrowser::OnCloseRequested()
{
    bool cancel = false;
    emit WindowClosing(openedByScript_, &cancel);
    if (!cancel)
        hide();
}
