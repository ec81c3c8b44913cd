#pragma once

#include <QString>
#include <QWidget>

// A web-browser control: one page with its history, shown in a widget.
// The windows use only these operations and events; a backend implements them
// in a file of its own and provides CreateWebBrowser.
class WebBrowser : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // Starts loading the address, given as the user would type it.
    virtual void Navigate(const QString &url) = 0;
    // Move in the history; raise AppError when there is no such entry.
    virtual void GoBack() = 0;
    virtual void GoForward() = 0;
    virtual void Refresh() = 0;
    virtual void Stop() = 0;
    // The address of the current page.
    virtual QString LocationURL() const = 0;
    // The title of the top-level document as its title element holds it, spaces
    // included; empty when the document has none. Valid from DocumentComplete on.
    virtual QString DocumentTitle() const = 0;
    // A silent control reports nothing of its own (script errors and console output).
    virtual void SetSilent(bool silent) = 0;
    virtual bool Silent() const = 0;
    // Whether a right click shows the control's context menu.
    virtual void SetContextMenuEnabled(bool enabled) = 0;
    // Whether the control is loading a page.
    virtual bool Busy() const = 0;
    // Whether the page waits for the user to answer one of its boxes (alert,
    // confirm, prompt). The control must not be destroyed until it no longer does.
    virtual bool InPageDialog() const { return false; }
    // Answers the page's open boxes as cancelled; the page goes on when the wait
    // for them has ended.
    virtual void DismissPageDialogs() {}
    // The object a NewWindow2 handler hands back so that the new window's page
    // opens in this control.
    WebBrowser *Application() { return this; }

    // Free for the owner's bookkeeping.
    quintptr Tag = 0;

signals:
    // The top-level document has finished loading (or failed to).
    void DocumentComplete();
    // The page asks for a new window. Only a request that follows the user's own
    // gesture (a click, a key) comes through, and only a few of them in a short
    // while from one page; the others open nothing. NewWindow3 comes first, with
    // the address; setting *cancel there opens nothing here. Then NewWindow2: a
    // handler that puts a control into *ppDisp gets the new page there; leaving it
    // empty opens nothing.
    void NewWindow3(const QString &url, bool *cancel);
    void NewWindow2(WebBrowser **ppDisp, bool *cancel);
    // The page's script closed its window. isChildWindow: the window was opened
    // by a script. Setting *cancel keeps the control; otherwise it hides.
    void WindowClosing(bool isChildWindow, bool *cancel);
    // The user followed a link in the top-level document; *cancel stops it.
    void BeforeNavigate2(const QString &url, bool *cancel);
    // Busy changed: a page began or ended loading.
    void BusyChanged(bool busy);
};

// A new control of the backend built into the program, owned by parent.
WebBrowser *CreateWebBrowser(QWidget *parent);
