#include "WebEngineBrowser.h"

#include "AppError.h"
#include "PageDialog.h"

#include <QPointer>
#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <utility>

// The page of one control: routes Chromium's requests back to the control.
class WebEnginePage : public QWebEnginePage {
public:
    WebEnginePage(WebEngineBrowser *owner, QObject *parent) : QWebEnginePage(parent), owner_(owner) {}

protected:
    // No window is made here: the request comes to newWindowRequested, which tells
    // whether the user asked for it.
    QWebEnginePage *createWindow(WebWindowType) override { return nullptr; }

    void javaScriptAlert(const QUrl &origin, const QString &message) override
    {
        owner_->PageDialog(int(TPageDialog::Kind::Alert), origin, message);
    }

    bool javaScriptConfirm(const QUrl &origin, const QString &message) override
    {
        return owner_->PageDialog(int(TPageDialog::Kind::Confirm), origin, message);
    }

    bool javaScriptPrompt(const QUrl &origin, const QString &message, const QString &defaultValue,
                          QString *result) override
    {
        return owner_->PageDialog(int(TPageDialog::Kind::Prompt), origin, message, defaultValue, result);
    }

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

// The controls waiting for the engine while it is held back at start-up.
struct HeldPages {
    bool held = false;
    QList<QPointer<WebEngineBrowser>> waiting;
};

HeldPages &Held()
{
    static HeldPages held;
    return held;
}

} // namespace

void WebEngineBrowser::HoldPages()
{
    Held().held = true;
}

void WebEngineBrowser::ReleasePages()
{
    HeldPages &held = Held();
    held.held = false;
    const QList<QPointer<WebEngineBrowser>> waiting = std::exchange(held.waiting, {});
    for (const QPointer<WebEngineBrowser> &browser : waiting)
        if (browser && !browser->page_)
            browser->CreatePage();
}

WebEngineBrowser::WebEngineBrowser(QWidget *parent) : WebBrowser(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    clock_.start();
    if (Held().held)
        Held().waiting.append(this);
    else
        CreatePage();
}

void WebEngineBrowser::CreatePage()
{
    view_ = new QWebEngineView(this);
    page_ = new WebEnginePage(this, view_);
    view_->setPage(page_);
    layout()->addWidget(view_);
    setFocusProxy(view_);
    SetContextMenuEnabled(contextMenuEnabled_);
    connect(page_, &QWebEnginePage::newWindowRequested, this, &WebEngineBrowser::OnNewWindowRequested);
    connect(page_, &QWebEnginePage::loadStarted, this, &WebEngineBrowser::OnLoadStarted);
    connect(page_, &QWebEnginePage::loadFinished, this, &WebEngineBrowser::OnLoadFinished);
    // Queued: nothing may be asked or destroyed inside the engine's callback.
    connect(page_, &QWebEnginePage::windowCloseRequested, this, &WebEngineBrowser::OnCloseRequested,
            Qt::QueuedConnection);
    if (!pendingUrl_.isEmpty())
        view_->load(std::exchange(pendingUrl_, QUrl()));
}

// A page that goes while loading reports its end, and the engine answers pending
// scripts then: nothing of that reaches the owner of a control being destroyed.
WebEngineBrowser::~WebEngineBrowser()
{
    alive_.reset();
    blockSignals(true);
    if (page_)
        page_->disconnect(this);
}

void WebEngineBrowser::Navigate(const QString &url)
{
    const QUrl target = QUrl::fromUserInput(url);
    if (!target.isValid())
        throw AppError(QStringLiteral("无效的网址：%1").arg(url));
    if (view_)
        view_->load(target);
    else
        pendingUrl_ = target;
}

void WebEngineBrowser::GoBack()
{
    if (!page_ || !page_->history()->canGoBack())
        throw AppError(QStringLiteral("没有可以后退到的网页。"));
    page_->triggerAction(QWebEnginePage::Back);
}

void WebEngineBrowser::GoForward()
{
    if (!page_ || !page_->history()->canGoForward())
        throw AppError(QStringLiteral("没有可以前进到的网页。"));
    page_->triggerAction(QWebEnginePage::Forward);
}

void WebEngineBrowser::Refresh()
{
    if (page_)
        page_->triggerAction(QWebEnginePage::Reload);
}

void WebEngineBrowser::Stop()
{
    if (page_)
        page_->triggerAction(QWebEnginePage::Stop);
}

QString WebEngineBrowser::LocationURL() const
{
    return page_ ? page_->url().toString() : pendingUrl_.toString();
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
    contextMenuEnabled_ = enabled;
    if (view_)
        view_->setContextMenuPolicy(enabled ? Qt::DefaultContextMenu : Qt::NoContextMenu);
}

bool WebEngineBrowser::Busy() const
{
    return busy_;
}

void WebEngineBrowser::OnNewWindowRequested(QWebEngineNewWindowRequest &request)
{
    if (!NewWindowAllowed(request.isUserInitiated()))
        return; // unhandled: the page's request opens nothing
    bool cancel = false;
    emit NewWindow3(request.requestedUrl().toString(), &cancel);
    if (cancel)
        return;
    WebBrowser *target = nullptr;
    emit NewWindow2(&target, &cancel);
    auto *browser = qobject_cast<WebEngineBrowser *>(target);
    if (cancel || !browser)
        return;
    browser->openedByScript_ = true;
    if (!browser->page_)
        browser->CreatePage();
    request.openIn(browser->page_);
}

// Only the user's own gesture opens a window, and a page gets no more than a few
// within a short span, however many its script asks for.
bool WebEngineBrowser::NewWindowAllowed(bool userInitiated)
{
    if (!userInitiated)
        return false;
    const qint64 now = clock_.elapsed();
    while (!newWindowTimes_.isEmpty() && now - newWindowTimes_.first() >= NewWindowSpanMs)
        newWindowTimes_.removeFirst();
    if (newWindowTimes_.size() >= MaxNewWindows)
        return false;
    newWindowTimes_.append(now);
    return true;
}

bool WebEngineBrowser::RequestLinkNavigation(const QUrl &url)
{
    bool cancel = false;
    emit BeforeNavigate2(url.toString(), &cancel);
    return !cancel;
}

void WebEngineBrowser::OnLoadStarted()
{
    if (busy_)
        return;
    busy_ = true;
    emit BusyChanged(true);
}

// The title is read from the document before the completion is reported, so that
// handlers can read it at once.
void WebEngineBrowser::OnLoadFinished()
{
    if (busy_) {
        busy_ = false;
        emit BusyChanged(false);
    }
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

bool WebEngineBrowser::PageDialog(int kind, const QUrl &origin, const QString &message, const QString &defaultText,
                                  QString *text)
{
    const QString key = origin.toString();
    if (silencedOrigins_.contains(key))
        return false;
    QPointer<WebEngineBrowser> self(this);
    // The page takes no input while its box is open; the rest of the window does.
    QPointer<QWebEngineView> view(view_);
    if (view)
        view->setEnabled(false);
    ++pageDialogs_;
    const TPageDialog::Answer answer = TPageDialog::Ask(this, TPageDialog::Kind(kind), origin, message, defaultText);
    if (!self)
        return false;
    if (--pageDialogs_ == 0 && view)
        view->setEnabled(true);
    if (answer.blockFurther)
        silencedOrigins_.insert(key);
    if (text && answer.accepted)
        *text = answer.text;
    return answer.accepted;
}

void WebEngineBrowser::DismissPageDialogs()
{
    for (TPageDialog *box : findChildren<TPageDialog *>(QString(), Qt::FindDirectChildrenOnly))
        box->reject();
}
