#pragma once

#include "BrowserList.h"
#include "ShellPages.h"
#include "TabInfo.h"

#include <QDateTime>
#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>

class QFrame;
class QLabel;
class QLineEdit;
class QShortcut;
class QTimer;
class QToolButton;
class TPageControl;
class TTabSheet;
class WebBrowser;

// The main window: a small tabbed web browser whose first tab holds the server manager.
class TFormMain : public QWidget {
    Q_OBJECT
public:
    explicit TFormMain(const QString &defaultPage = DefaultPageUrl(), QWidget *parent = nullptr);
    ~TFormMain() override;

    // The window that showing this one places into the first tab. Not owned.
    void SetManager(QWidget *manager);
    // Where the window reads the time of a press on the tab strip.
    void SetClock(std::function<QDateTime()> clock);

signals:
    // The window has closed; the program ends with it.
    void Closed();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend class TestMain;

    void CreateControls();
    QToolButton *CreateSpeedButton(const char *name, int x, int icon);
    void CreateTabCommands();
    void BindBrowser(WebBrowser *browser);
    // A switch made by the window itself: PageControlMainChange does not run.
    void SelectTab(int index);
    QString CurrentCaption() const;
    // The caption, and the address box, show the current tab.
    void ShowCurrentTab();
    // Opens a blank tab as "+" does, with the cursor in the address box.
    void OpenBlankTab();
    // While the manager's tab is current, the keyboard goes to the manager.
    void FocusManager();
    // Closes a browser tab at the user's request, through TimerCloseTab; the
    // manager's tab and "+" never close this way. A tab other than the current
    // one closes without changing the current tab.
    void CloseTabByUser(int position);
    void ArmCloseTab(int position, QWidget *keepCurrent = nullptr);
    bool PageWaitsForItsBox(int position);
    void WebBrowserBusyChanged(WebBrowser *Sender, bool busy);
    void WithActiveBrowser(const std::function<void(WebBrowser &)> &command);

    void FormCreate();
    void FormShow();
    void FormClose();
    void FormDestroy();
    void FormKeyPress(int key);
    void EditUrlKeyUp(int key);
    void SpeedButtonBackClick();
    void SpeedButtonForwardClick();
    void SpeedButtonRefreshClick();
    void SpeedButtonStopClick();
    void PageControlMainChange();
    void PageControlMainMouseDown();
    void TimerCloseTabTimer();
    void PageControlMainTabCloseRequested(int index);
    void PageControlMainMiddleClick(int index);
    void ShortcutNewTabActivated();
    void ShortcutCloseTabActivated();
    void WebBrowser1DocumentComplete(WebBrowser *Sender);
    void WebBrowser1NewWindow2(WebBrowser *Sender, WebBrowser **ppDisp, bool *Cancel);
    void WebBrowser1WindowClosing(WebBrowser *Sender, bool IsChildWindow, bool *Cancel);

    TBrowserEntry *GetActiveBrowser() const;
    void NewBrowserTab(WebBrowser **ppDisp, const QString &Url);

    QFrame *PanelToolBar = nullptr;
    QFrame *Panel1 = nullptr;
    QToolButton *SpeedButtonBack = nullptr;
    QToolButton *SpeedButtonForward = nullptr;
    QToolButton *SpeedButtonStop = nullptr;
    QToolButton *SpeedButtonRefresh = nullptr;
    QFrame *Panel2 = nullptr;
    QLineEdit *EditUrl = nullptr;
    TPageControl *PageControlMain = nullptr;
    TTabSheet *TabSheetForm = nullptr;
    QLabel *PanelMain = nullptr;
    QPointer<TTabSheet> TabSheetWeb; // closes like any browser tab
    QPointer<WebBrowser> WebBrowser1;
    TTabSheet *TabSheetNew = nullptr;
    QTimer *TimerCloseTab = nullptr;
    QShortcut *ShortcutNewTab = nullptr;
    QShortcut *ShortcutCloseTab = nullptr;

    std::array<TTabInfo, TabInfoCount> m_TabInfo{};
    bool m_Existed = false;
    qint32 m_nBrowserTag = 0;
    qint32 m_nOldActivePageIndex = 0;
    TBrowserList m_BrowserList;
    QDateTime m_dtTabDouble;

    QString defaultPage_;
    QPointer<QWidget> manager_;
    std::function<QDateTime()> clock_;
    bool windowSwitching_ = false;
    QPointer<QWidget> closeKeepsCurrent_; // the tab that stays current after the pending close
};
