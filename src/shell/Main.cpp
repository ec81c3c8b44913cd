#include "Main.h"

#include "AppError.h"
#include "PageControl.h"
#include "ShellSettings.h"
#include "SrsFunction.h"
#include "TabSheet.h"
#include "WebBrowser.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <utility>

namespace {

// The program's name, the build's version and the release's name.
const QString MainCaption = QStringLiteral("Brennic " BRENNIC_VERSION " " BRENNIC_CODENAME);
const QString CloseQuestion = QStringLiteral("您查看的网页正在试图关闭窗口。\r\n\r\n是否关闭此窗口？");
constexpr int DoublePressMs = 300;
constexpr int CloseTabDelayMs = 10;
const char *const TimerTag = "Tag";

// Strips leading and trailing characters with codes 0 to 32.
QString TrimControls(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

QFrame *CreatePanel(QWidget *parent, const char *name)
{
    auto *panel = new QFrame(parent);
    panel->setObjectName(QLatin1String(name));
    panel->setFrameShape(QFrame::NoFrame);
    return panel;
}

} // namespace

TFormMain::TFormMain(const QString &defaultPage, QWidget *parent)
    : QWidget(parent), defaultPage_(defaultPage), clock_([] { return QDateTime::currentDateTimeUtc(); })
{
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(MainCaption);
    resize(1008, 701);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    CreateControls();
    // Where the user left the window last time.
    if (const QByteArray geometry = MainWindowGeometry(); !geometry.isEmpty())
        restoreGeometry(geometry);
    qApp->installEventFilter(this); // key preview
    Guard([&] { FormCreate(); });
}

TFormMain::~TFormMain()
{
    FormDestroy();
    // The controls go after this: none of their last signals reaches the window.
    PageControlMain->disconnect(this);
    for (WebBrowser *browser : findChildren<WebBrowser *>())
        browser->disconnect(this);
}

void TFormMain::SetManager(QWidget *manager)
{
    manager_ = manager;
}

void TFormMain::SetClock(std::function<QDateTime()> clock)
{
    clock_ = std::move(clock);
}

QToolButton *TFormMain::CreateSpeedButton(const char *name, int x, int icon)
{
    auto *button = new QToolButton(Panel1);
    button->setObjectName(QLatin1String(name));
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(style()->standardIcon(QStyle::StandardPixmap(icon)));
    button->setGeometry(x, 2, 26, 26);
    return button;
}

void TFormMain::CreateControls()
{
    PanelToolBar = CreatePanel(this, "PanelToolBar");
    PanelToolBar->setGeometry(0, 0, 1008, 30);
    Panel1 = CreatePanel(PanelToolBar, "Panel1");
    Panel1->setGeometry(0, 0, 117, 30);
    SpeedButtonBack = CreateSpeedButton("SpeedButtonBack", 2, QStyle::SP_ArrowBack);
    SpeedButtonForward = CreateSpeedButton("SpeedButtonForward", 31, QStyle::SP_ArrowForward);
    SpeedButtonStop = CreateSpeedButton("SpeedButtonStop", 59, QStyle::SP_BrowserStop);
    SpeedButtonRefresh = CreateSpeedButton("SpeedButtonRefresh", 88, QStyle::SP_BrowserReload);
    Panel2 = CreatePanel(PanelToolBar, "Panel2");
    Panel2->setGeometry(117, 0, 891, 30);
    EditUrl = new QLineEdit(Panel2);
    EditUrl->setObjectName(QStringLiteral("EditUrl"));
    EditUrl->setGeometry(0, 5, 888, 21);

    PageControlMain = new TPageControl(this);
    PageControlMain->setObjectName(QStringLiteral("PageControlMain"));
    PageControlMain->setGeometry(8, 32, 992, 661);
    PageControlMain->setTabsClosable(true);              // browser tabs; the manager's and "+" lose theirs below
    PageControlMain->TabBar()->WheelSkipsLastTab = true; // the wheel opens no tabs

    TabSheetForm = new TTabSheet;
    TabSheetForm->setObjectName(QStringLiteral("TabSheetForm"));
    PanelMain = new QLabel(QStringLiteral("在这里放主窗口控件"), TabSheetForm);
    PanelMain->setObjectName(QStringLiteral("PanelMain"));
    PanelMain->setAlignment(Qt::AlignCenter);
    auto *hostLayout = new QVBoxLayout(PanelMain);
    hostLayout->setContentsMargins(0, 0, 0, 0);
    TabSheetForm->layout()->addWidget(PanelMain);

    TabSheetWeb = new TTabSheet;
    TabSheetWeb->setObjectName(QStringLiteral("TabSheetWeb"));
    WebBrowser1 = CreateWebBrowser(TabSheetWeb);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    TabSheetWeb->layout()->addWidget(WebBrowser1);

    TabSheetNew = new TTabSheet;
    TabSheetNew->setObjectName(QStringLiteral("TabSheetNew"));

    {
        QScopedValueRollback<bool> own(windowSwitching_, true);
        PageControlMain->addTab(TabSheetForm, MainCaption);
        PageControlMain->addTab(TabSheetWeb, QStringLiteral("默认网页"));
        PageControlMain->addTab(TabSheetNew, QStringLiteral("   +"));
    }
    PageControlMain->TabBar()->RemoveCloseButton(PageControlMain->indexOf(TabSheetForm));
    PageControlMain->TabBar()->RemoveCloseButton(PageControlMain->indexOf(TabSheetNew));

    TimerCloseTab = new QTimer(this);
    TimerCloseTab->setObjectName(QStringLiteral("TimerCloseTab"));
    TimerCloseTab->setInterval(CloseTabDelayMs);

    connect(SpeedButtonBack, &QToolButton::clicked, this, [this] { SpeedButtonBackClick(); });
    connect(SpeedButtonForward, &QToolButton::clicked, this, [this] { SpeedButtonForwardClick(); });
    connect(SpeedButtonStop, &QToolButton::clicked, this, [this] { SpeedButtonStopClick(); });
    connect(SpeedButtonRefresh, &QToolButton::clicked, this, [this] { SpeedButtonRefreshClick(); });
    connect(PageControlMain, &QTabWidget::currentChanged, this, [this] {
        if (!windowSwitching_)
            PageControlMainChange();
    });
    connect(PageControlMain->TabBar(), &TTabBar::MouseDown, this, [this] { PageControlMainMouseDown(); });
    connect(TimerCloseTab, &QTimer::timeout, this, [this] { TimerCloseTabTimer(); });
    CreateTabCommands();
    BindBrowser(WebBrowser1);
}

// Closing and opening tabs by the user: the tabs' close buttons, a middle click
// on a tab, Ctrl+T and Ctrl+W.
void TFormMain::CreateTabCommands()
{
    connect(PageControlMain, &QTabWidget::tabCloseRequested, this,
            [this](int index) { PageControlMainTabCloseRequested(index); });
    connect(PageControlMain->TabBar(), &TTabBar::MiddleClicked, this,
            [this](int index) { PageControlMainMiddleClick(index); });
    ShortcutNewTab = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this);
    ShortcutNewTab->setObjectName(QStringLiteral("ShortcutNewTab"));
    connect(ShortcutNewTab, &QShortcut::activated, this, [this] { ShortcutNewTabActivated(); });
    ShortcutCloseTab = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this);
    ShortcutCloseTab->setObjectName(QStringLiteral("ShortcutCloseTab"));
    connect(ShortcutCloseTab, &QShortcut::activated, this, [this] { ShortcutCloseTabActivated(); });
}

void TFormMain::BindBrowser(WebBrowser *browser)
{
    connect(browser, &WebBrowser::DocumentComplete, this, [this, browser] { WebBrowser1DocumentComplete(browser); });
    connect(browser, &WebBrowser::NewWindow2, this, [this, browser](WebBrowser **ppDisp, bool *cancel) {
        WebBrowser1NewWindow2(browser, ppDisp, cancel);
    });
    connect(browser, &WebBrowser::WindowClosing, this, [this, browser](bool isChildWindow, bool *cancel) {
        WebBrowser1WindowClosing(browser, isChildWindow, cancel);
    });
    connect(browser, &WebBrowser::BusyChanged, this,
            [this, browser](bool busy) { WebBrowserBusyChanged(browser, busy); });
}

void TFormMain::SelectTab(int index)
{
    QScopedValueRollback<bool> own(windowSwitching_, true);
    PageControlMain->setCurrentIndex(index);
}

QString TFormMain::CurrentCaption() const
{
    const int current = PageControlMain->currentIndex();
    return current < 0 ? windowTitle() : PageControlMain->tabText(current);
}

void TFormMain::ShowCurrentTab()
{
    if (TBrowserEntry *entry = GetActiveBrowser(); entry && entry->Browser)
        EditUrl->setText(entry->Browser->LocationURL());
    else
        EditUrl->clear();
    setWindowTitle(CurrentCaption());
}

void TFormMain::OpenBlankTab()
{
    NewBrowserTab(nullptr, QStringLiteral("about:blank"));
    setWindowTitle(CurrentCaption());
    EditUrl->setFocus(Qt::OtherFocusReason);
    EditUrl->selectAll(); // what the user types replaces the address shown
}

void TFormMain::CloseTabByUser(int position)
{
    if (position <= 0 || position >= PageControlMain->count() - 1)
        return;
    const bool current = position == PageControlMain->currentIndex();
    ArmCloseTab(position, current ? nullptr : PageControlMain->currentWidget());
}

void TFormMain::ArmCloseTab(int position, QWidget *keepCurrent)
{
    TimerCloseTab->setProperty(TimerTag, position);
    closeKeepsCurrent_ = keepCurrent;
    TimerCloseTab->start();
}

// A tab whose page is loading shows it by its icon.
void TFormMain::WebBrowserBusyChanged(WebBrowser *Sender, bool busy)
{
    const int position = PageControlMain->indexOf(Sender->parentWidget());
    if (position < 0)
        return;
    PageControlMain->setTabIcon(position, busy ? style()->standardIcon(QStyle::SP_BrowserReload) : QIcon());
    PageControlMain->setTabToolTip(position, busy ? QStringLiteral("正在加载…") : QString());
}

void TFormMain::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        Guard([&] { FormShow(); });
}

void TFormMain::closeEvent(QCloseEvent *event)
{
    Guard([&] {
        SetMainWindowGeometry(saveGeometry());
        FormClose();
    });
    event->accept();
    emit Closed();
}

// The toolbar spans the width, the address box and the tabs stretch with the window.
void TFormMain::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const int w = width();
    const int h = height();
    PanelToolBar->setGeometry(0, 0, w, 30);
    Panel2->setGeometry(117, 0, qMax(0, w - 117), 30);
    EditUrl->setGeometry(0, 5, qMax(0, Panel2->width() - 3), 21);
    PageControlMain->setGeometry(8, 32, qMax(0, w - 16), qMax(0, h - 40));
}

// Sees every key meant for this window's controls first and passes it on.
bool TFormMain::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease)
        return false;
    auto *target = qobject_cast<QWidget *>(watched);
    if (!target || (target != this && !isAncestorOf(target)))
        return false;
    // A key an unhandling control passes to its parents is seen once, at the control.
    QWidget *focus = QApplication::focusWidget();
    if (focus ? target != focus : target != this)
        return false;
    const int key = static_cast<QKeyEvent *>(event)->key();
    Guard([&] {
        if (type == QEvent::KeyPress)
            FormKeyPress(key);
        else if (target == EditUrl)
            EditUrlKeyUp(key);
    });
    return false;
}

void TFormMain::FormCreate()
{
    m_Existed = false;
    m_nBrowserTag = 1;
    m_dtTabDouble = clock_();
    m_BrowserList.Clear();
    WebBrowser1->Tag = HandleOf(TabSheetWeb);
    m_BrowserList.Add(QStringLiteral("0"), std::make_unique<TBrowserEntry>(TBrowserEntry{WebBrowser1, TabSheetWeb.data()}));
    SelectTab(1);
    WebBrowser1->Navigate(defaultPage_);
}

// Hosts the manager: a frameless child that fills the first tab.
void TFormMain::FormShow()
{
    SelectTab(0);
    if (!manager_)
        return;
    if (manager_->parentWidget() != PanelMain) {
        manager_->setParent(PanelMain);
        manager_->setWindowFlags(Qt::Widget | Qt::FramelessWindowHint);
        PanelMain->layout()->addWidget(manager_);
    }
    manager_->setWindowState(Qt::WindowMaximized);
    manager_->show();
    // The keys start in the manager's list, not in the address box.
    FocusManager();
}

// The manager's server list (lvSvr), where its commands' keys work.
void TFormMain::FocusManager()
{
    if (!manager_ || PageControlMain->currentIndex() != 0)
        return;
    QWidget *list = manager_->findChild<QWidget *>(QStringLiteral("lvSvr"));
    (list ? list : manager_.data())->setFocus(Qt::OtherFocusReason);
}

void TFormMain::FormClose()
{
    m_Existed = true;
}

void TFormMain::FormDestroy()
{
    try {
        m_BrowserList.Clear();
    } catch (...) {
    }
}

void TFormMain::FormKeyPress(int key)
{
    if (key == Qt::Key_Escape)
        SpeedButtonStopClick();
    else if (key == Qt::Key_F5)
        SpeedButtonRefreshClick();
}

void TFormMain::EditUrlKeyUp(int key)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        WithActiveBrowser([this](WebBrowser &browser) { browser.Navigate(EditUrl->text()); });
}

void TFormMain::SpeedButtonBackClick()
{
    WithActiveBrowser([](WebBrowser &browser) { browser.GoBack(); });
}

void TFormMain::SpeedButtonForwardClick()
{
    WithActiveBrowser([](WebBrowser &browser) { browser.GoForward(); });
}

void TFormMain::SpeedButtonRefreshClick()
{
    WithActiveBrowser([](WebBrowser &browser) { browser.Refresh(); });
}

void TFormMain::SpeedButtonStopClick()
{
    WithActiveBrowser([](WebBrowser &browser) { browser.Stop(); });
}

// Runs a command on the current tab's browser, if there is one; the browser's
// own errors (no history, an address it cannot read) are not reported.
void TFormMain::WithActiveBrowser(const std::function<void(WebBrowser &)> &command)
{
    Guard([&] {
        TBrowserEntry *entry = GetActiveBrowser();
        if (!entry || !entry->Browser)
            return;
        try {
            command(*entry->Browser);
        } catch (const AppError &) {
        }
    });
}

void TFormMain::PageControlMainChange()
{
    Guard([&] {
        const int current = PageControlMain->currentIndex();
        if (current >= 0 && current == PageControlMain->count() - 1)
            OpenBlankTab();
        else if (TBrowserEntry *entry = GetActiveBrowser(); entry && entry->Browser)
            EditUrl->setText(entry->Browser->LocationURL());
        else
            FocusManager();
        setWindowTitle(CurrentCaption());
    });
}

void TFormMain::PageControlMainMouseDown()
{
    Guard([&] {
        const QDateTime now = clock_();
        if (qAbs(m_dtTabDouble.msecsTo(now)) < DoublePressMs)
            ArmCloseTab(PageControlMain->currentIndex());
        m_dtTabDouble = now;
    });
}

void TFormMain::TimerCloseTabTimer()
{
    Guard([&] {
        TimerCloseTab->stop();
        const int k = TimerCloseTab->property(TimerTag).toInt();
        const QPointer<QWidget> keepCurrent = std::exchange(closeKeepsCurrent_, nullptr);
        const int count = PageControlMain->count();
        if (PageWaitsForItsBox(k)) {
            ArmCloseTab(k, keepCurrent);
            return;
        }
        for (int i = 1; i <= count - 1 && i < TabInfoCount; ++i)
            if (m_TabInfo[size_t(i)].PageIndex == k) {
                m_TabInfo[size_t(i)] = TTabInfo{};
                break;
            }
        if (k == 0) {
            if (count == 2)
                close();
            return;
        }
        // The "+" tab is always the last and never closes.
        if (k < 0 || k >= count - 1)
            return;
        auto *tab = static_cast<TTabSheet *>(PageControlMain->widget(k));
        const QString key = QString::number(tab->Tag);
        if (TBrowserEntry *entry = m_BrowserList.Find(key); entry && entry->Browser)
            entry->Browser->disconnect(this);
        m_BrowserList.Remove(key);
        {
            QScopedValueRollback<bool> own(windowSwitching_, true);
            PageControlMain->removeTab(k);
            tab->deleteLater();
        }
        const int kept = keepCurrent ? PageControlMain->indexOf(keepCurrent) : -1;
        SelectTab(kept >= 0 ? kept : k - 1);
        ShowCurrentTab();
    });
}

// A page waiting for the answer to one of its boxes is inside a call of its own
// and cannot go yet: its boxes are answered as cancelled, and the tab closes once
// the wait has ended.
bool TFormMain::PageWaitsForItsBox(int position)
{
    if (position <= 0 || position >= PageControlMain->count() - 1)
        return false;
    const auto *tab = static_cast<TTabSheet *>(PageControlMain->widget(position));
    TBrowserEntry *entry = m_BrowserList.Find(QString::number(tab->Tag));
    if (!entry || !entry->Browser || !entry->Browser->InPageDialog())
        return false;
    entry->Browser->DismissPageDialogs();
    return true;
}

void TFormMain::PageControlMainTabCloseRequested(int index)
{
    Guard([&] { CloseTabByUser(index); });
}

void TFormMain::PageControlMainMiddleClick(int index)
{
    Guard([&] { CloseTabByUser(index); });
}

// A new tab's address box is empty, ready for the address the user types.
void TFormMain::ShortcutNewTabActivated()
{
    Guard([&] {
        OpenBlankTab();
        EditUrl->clear();
    });
}

void TFormMain::ShortcutCloseTabActivated()
{
    Guard([&] { CloseTabByUser(PageControlMain->currentIndex()); });
}

void TFormMain::WebBrowser1DocumentComplete(WebBrowser *Sender)
{
    Guard([&] {
        if (m_Existed)
            return;
        if (TrimControls(Sender->DocumentTitle()).isEmpty())
            return;
        if (QWidget *tab = ControlFromHandle(Sender->Tag)) {
            if (const int position = PageControlMain->indexOf(tab); position >= 0)
                PageControlMain->setTabText(position, Sender->DocumentTitle());
        }
        if (PageControlMain->currentIndex() >= 0)
            setWindowTitle(CurrentCaption());
        EditUrl->setText(Sender->LocationURL());
    });
}

void TFormMain::WebBrowser1NewWindow2(WebBrowser *, WebBrowser **ppDisp, bool *)
{
    Guard([&] { NewBrowserTab(ppDisp, QString()); });
}

void TFormMain::WebBrowser1WindowClosing(WebBrowser *Sender, bool IsChildWindow, bool *Cancel)
{
    *Cancel = true;
    QPointer<WebBrowser> sender(Sender);
    Guard([&] {
        if (!IsChildWindow) {
            SelectTab(m_nOldActivePageIndex < PageControlMain->count() ? m_nOldActivePageIndex : -1);
            if (ShowMsgBox(CloseQuestion, MsgBoxFlag::YesNo | MsgBoxFlag::IconQuestion) != MsgBoxResult::Yes)
                return;
        }
        if (!sender)
            return;
        for (int i = 1; i < PageControlMain->count(); ++i)
            if (PageControlMain->widget(i) == sender->parentWidget()) {
                ArmCloseTab(i);
                return;
            }
    });
}

TBrowserEntry *TFormMain::GetActiveBrowser() const
{
    const int current = PageControlMain->currentIndex();
    if (current <= 0)
        return nullptr;
    const auto *tab = static_cast<const TTabSheet *>(PageControlMain->widget(current));
    return m_BrowserList.Find(QString::number(tab->Tag));
}

void TFormMain::NewBrowserTab(WebBrowser **ppDisp, const QString &Url)
{
    if (m_Existed)
        return;
    const int n = PageControlMain->count();
    auto *tab = new TTabSheet(PageControlMain);
    {
        QScopedValueRollback<bool> own(windowSwitching_, true);
        PageControlMain->insertTab(n - 1, tab, QStringLiteral(" 空白页%1  ").arg(n - 1));
        PageControlMain->setCurrentIndex(n - 1);
    }
    tab->Tag = ++m_nBrowserTag;

    WebBrowser *browser = CreateWebBrowser(tab);
    BindBrowser(browser);
    browser->SetSilent(true);
    browser->Tag = HandleOf(tab);
    tab->layout()->addWidget(browser);
    if (!Url.isEmpty())
        browser->Navigate(Url);
    if (ppDisp)
        *ppDisp = browser->Application();

    // Tabs past the table get no bookkeeping.
    if (n - 1 < TabInfoCount)
        m_TabInfo[size_t(n - 1)] = TTabInfo{TBrowserTag::btUnknown, false, QString(), n - 1, TRect{}};
    m_BrowserList.Add(QString::number(tab->Tag), std::make_unique<TBrowserEntry>(TBrowserEntry{browser, tab}));
    m_nOldActivePageIndex = PageControlMain->currentIndex();
    QCoreApplication::postEvent(this, new QEvent(QEvent::LayoutRequest));
}
