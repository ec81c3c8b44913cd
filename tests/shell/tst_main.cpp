// The tabbed browser window: its tabs, captions, address box, keys and the pages'
// requests, against pages served by the test on loopback; pages that try to open
// many tabs or chain their boxes.
#include "Banner.h"
#include "LogonForm.h"
#include "Main.h"
#include "MessageBoxAnswers.h"
#include "DialogAnswers.h"
#include "PageClick.h"
#include "PageDialog.h"
#include "PageControl.h"
#include "PageServer.h"
#include "RdpCommon.h"
#include "ShellPages.h"
#include "ShellSettings.h"
#include "TabSheet.h"
#include "WebBrowser.h"
#include "PageView.h"
#include "WebEngineBrowser.h"
#include "WebEngineSetup.h"
#include "WebTestMain.h"

#include "AppError.h"
#include "Translations.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFile>
#include <QPushButton>
#include <QWheelEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <memory>
#include <unistd.h>

namespace {

const QString MainCaption = QStringLiteral("Brennic 1.8 Talvane");
const QString CloseQuestion = QStringLiteral("您查看的网页正在试图关闭窗口。\r\n\r\n是否关闭此窗口？");

QByteArray scriptPage(const QString &title, const QByteArray &body)
{
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + title.toUtf8() + "</title></head><body>"
        + body + "</body></html>";
}

// A page with one big button over the whole view; its click runs the script.
QByteArray buttonPage(const QString &title, const QByteArray &onClick, const QByteArray &more = QByteArray())
{
    return scriptPage(title, "<button id=\"b\" style=\"position:fixed;left:0;top:0;width:100%;height:100%\" "
                             "onclick=\""
                          + onClick + "\">go</button>" + more);
}

// Answers the boxes that pages open with their scripts: OK, and from the
// blockFrom-th box on, ticks "stop further boxes" first.
class PageDialogDriver {
public:
    explicit PageDialogDriver(int blockFrom)
        : blockFrom_(blockFrom), previous_(DialogSeam::SetHook([this](QDialog *dialog) { take(dialog); }))
    {
    }
    ~PageDialogDriver() { DialogSeam::SetHook(std::move(previous_)); }
    PageDialogDriver(const PageDialogDriver &) = delete;
    PageDialogDriver &operator=(const PageDialogDriver &) = delete;

    QStringList messages;
    QStringList origins;
    QStringList buttonTexts;

private:
    // Each page's box as it is shown; other dialogs go to the hook set before.
    void take(QDialog *dialog)
    {
        auto *box = qobject_cast<TPageDialog *>(dialog);
        if (!box) {
            if (previous_)
                previous_(dialog);
            return;
        }
        messages << box->findChild<QLabel *>(QStringLiteral("lblMessage"))->text();
        origins << box->findChild<QLabel *>(QStringLiteral("lblOrigin"))->text();
        auto *buttons = box->findChild<QDialogButtonBox *>();
        buttonTexts << buttons->button(QDialogButtonBox::Ok)->text();
        if (messages.size() >= blockFrom_)
            box->findChild<QCheckBox *>(QStringLiteral("chkBlock"))->setChecked(true);
        buttons->button(QDialogButtonBox::Ok)->click();
    }

    int blockFrom_;
    DialogSeam::Hook previous_;
};

// A window that counts the requests to close it.
class CloseCounter : public QWidget {
public:
    using QWidget::QWidget;
    int closeRequests = 0;

protected:
    void closeEvent(QCloseEvent *event) override
    {
        ++closeRequests;
        event->ignore(); // would ask its user
    }
};

} // namespace

class TestMain : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startUpState();
    void pagesHeldUntilTheWindowHasPainted();
    void ownPagesShareARendererOtherSitesHaveTheirOwn();
    void defaultPageNamesTheServerListFile();
    void managerFillsItsTab_data();
    void managerFillsItsTab();
    void plusOpensBlankTabsWithNewTags();
    void doublePress_data();
    void doublePress();
    void doublePressOnPlusOpensAndClosesATab();
    void managerTabClosesOnlyWhenAlone_data();
    void managerTabClosesOnlyWhenAlone();
    void documentCompleteInCurrentAndBackgroundTab();
    void titles_data();
    void titles();
    void newWindowRequestsBecomeTabs_data();
    void newWindowRequestsBecomeTabs();
    void scriptOpensNoTabWithoutAGesture_data();
    void scriptOpensNoTabWithoutAGesture();
    void pageThatTriesToOpenAHundredTabsAndChainBoxes();
    void closeButtonsOnBrowserTabsOnly();
    void userClosesATab_data();
    void userClosesATab();
    void closingABackgroundTabKeepsTheCurrentOne_data();
    void closingABackgroundTabKeepsTheCurrentOne();
    void managerTabAndPlusDoNotCloseByTheUser();
    void newTabPutsTheCursorInTheAddressBox_data();
    void newTabPutsTheCursorInTheAddressBox();
    void loadingTabShowsIt();
    void wheelOpensNoTabs();
    void windowSizeAndPlaceAreRemembered();
    void defaultPageSaysWhatTheProgramDoes();
    void standardButtonsSpeakChinese();
    void scriptOpenedPageClosesWithoutQuestion();
    void userOpenedPageAsks_data();
    void userOpenedPageAsks();
    void escAndF5_data();
    void escAndF5();
    void enterInTheAddressBox_data();
    void enterInTheAddressBox();
    void backWithoutHistoryDoesNothing();
    void noTabWhileTheWindowCloses();
    void closingAsksNoOtherWindow();
    void logonWindowIsEmpty();
    void glSettingIsNotPassedOn();
    void sandboxSwitchIsNotPassedOn();

private:
    void open(const QString &defaultPage);
    TPageControl *tabs() const { return window_->PageControlMain; }
    QStringList captions() const;
    WebBrowser *browserAt(int position) const;
    void waitComplete(WebBrowser *browser, const QString &caption = QString());
    // One press on the tab strip at the tab's place, `afterMs` after the previous one.
    void press(int position, qint64 afterMs = 1000);
    void pressPlus() { press(tabs()->count() - 1); }
    QAbstractButton *closeButton(int position) const;
    // Shows the tab and clicks its page until the check holds.
    bool clickPage(int position, const std::function<bool()> &done);

    PageServer *server_ = nullptr;
    std::unique_ptr<TFormMain> window_;
    std::unique_ptr<QWidget> manager_;
    QDateTime now_;
};

void TestMain::init()
{
    QFile::remove(SettingsFilePath()); // every test starts with the program's first start
    server_ = new PageServer;
    now_ = QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);
}

void TestMain::cleanup()
{
    ReleaseWebPages(); // a failed test leaves nothing held for the next one
    // The manager goes first, as in the program: it is the window's child by then.
    manager_.reset();
    window_.reset();
    delete server_;
    server_ = nullptr;
}

void TestMain::open(const QString &defaultPage)
{
    window_ = std::make_unique<TFormMain>(defaultPage);
    window_->SetClock([this] { return now_; });
    manager_ = std::make_unique<QWidget>(nullptr, Qt::Window);
    manager_->setObjectName(QStringLiteral("managerStandIn"));
    window_->SetManager(manager_.get());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
}

QStringList TestMain::captions() const
{
    QStringList list;
    for (int i = 0; i < tabs()->count(); ++i)
        list << tabs()->tabText(i);
    return list;
}

WebBrowser *TestMain::browserAt(int position) const
{
    return tabs()->widget(position)->findChild<WebBrowser *>();
}

void TestMain::waitComplete(WebBrowser *browser, const QString &caption)
{
    QSignalSpy completed(browser, &WebBrowser::DocumentComplete);
    QVERIFY(completed.wait(10000));
    if (!caption.isEmpty())
        QCOMPARE(tabs()->tabText(tabs()->indexOf(browser->parentWidget())), caption);
}

void TestMain::press(int position, qint64 afterMs)
{
    now_ = now_.addMSecs(afterMs);
    QTabBar *bar = tabs()->TabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(position).center());
}

QAbstractButton *TestMain::closeButton(int position) const
{
    return tabs()->TabBar()->CloseButton(position);
}

bool TestMain::clickPage(int position, const std::function<bool()> &done)
{
    if (tabs()->currentIndex() != position)
        press(position);
    return ClickPageUntil(browserAt(position), Qt::LeftButton, done);
}

void TestMain::startUpState()
{
    window_ = std::make_unique<TFormMain>();
    QCOMPARE(captions(), (QStringList{MainCaption, QStringLiteral("默认网页"), QStringLiteral("   +")}));
    QCOMPARE(tabs()->currentIndex(), 1);
    QCOMPARE(window_->windowTitle(), MainCaption);
    QCOMPARE(window_->size(), QSize(1008, 701));
    QCOMPARE(window_->m_nBrowserTag, 1);
    QCOMPARE(window_->m_BrowserList.Count(), 1);
    QCOMPARE(window_->m_BrowserList.Key(0), QStringLiteral("0"));
    QCOMPARE(window_->m_BrowserList.Find(QStringLiteral("0"))->Browser.data(), browserAt(1));
    QVERIFY(!window_->m_Existed);
    QVERIFY(!window_->TimerCloseTab->isActive());
    QCOMPARE(window_->TimerCloseTab->interval(), 10);
    QCOMPARE(window_->PanelMain->text(), QStringLiteral("在这里放主窗口控件"));
    for (const char *name : {"PanelToolBar", "Panel1", "Panel2", "SpeedButtonBack", "SpeedButtonForward",
                             "SpeedButtonStop", "SpeedButtonRefresh", "EditUrl", "PageControlMain", "TabSheetForm",
                             "PanelMain", "TabSheetWeb", "WebBrowser1", "TabSheetNew"})
        QVERIFY2(window_->findChild<QWidget *>(QLatin1String(name)), name);

    window_->show();
    QCOMPARE(tabs()->currentIndex(), 0);
    QCOMPARE(window_->windowTitle(), MainCaption);
    QCOMPARE(tabs()->tabText(1), QStringLiteral("默认网页"));

    // The shipped default page completes in the background tab.
    waitComplete(browserAt(1), QStringLiteral("Brennic 默认网页"));
    QCOMPARE(window_->EditUrl->text(), QStringLiteral("qrc:/pages/default.html"));
    QCOMPARE(tabs()->currentIndex(), 0);
    QCOMPARE(window_->windowTitle(), MainCaption);
}

// Made while the engine is held back, as the program's entry makes it: the window
// starts as it always does, and the default page loads once the window has painted,
// still completing in the background tab.
void TestMain::pagesHeldUntilTheWindowHasPainted()
{
    HoldWebPages();
    window_ = std::make_unique<TFormMain>();
    WebBrowser *browser = browserAt(1);
    QVERIFY(!PageView(browser));
    QCOMPARE(browser->LocationURL(), DefaultPageUrl());
    QCOMPARE(captions(), (QStringList{MainCaption, QStringLiteral("默认网页"), QStringLiteral("   +")}));
    QCOMPARE(tabs()->currentIndex(), 1);

    ReleaseWebPagesOncePainted(window_.get());
    window_->show();
    QCOMPARE(tabs()->currentIndex(), 0);
    QCOMPARE(window_->windowTitle(), MainCaption);
    waitComplete(browser, QStringLiteral("Brennic 默认网页"));
    QVERIFY(PageView(browser));
    QCOMPARE(window_->EditUrl->text(), DefaultPageUrl());
    QCOMPARE(tabs()->currentIndex(), 0);
    QCOMPARE(window_->windowTitle(), MainCaption);

    // A control made after the release has its page at once.
    pressPlus();
    QVERIFY(PageView(browserAt(2)));
}

// The program's own pages run in one renderer process; a page of another site
// gets one of its own, so that it cannot hang them.
void TestMain::ownPagesShareARendererOtherSitesHaveTheirOwn()
{
    server_->titled(QStringLiteral("/other"), QStringLiteral("Other"));
    open(DefaultPageUrl());
    waitComplete(browserAt(1));
    auto *banner = new TBanner(window_.get());
    QSignalSpy bannerComplete(banner->Browser(), &WebBrowser::DocumentComplete);
    pressPlus();
    browserAt(2)->Navigate(server_->url(QStringLiteral("/other")));
    waitComplete(browserAt(2), QStringLiteral("Other"));
    QVERIFY(bannerComplete.count() > 0 || bannerComplete.wait(10000));

    const auto rendererOf = [](WebBrowser *browser) {
        return PageView(browser)->page()->renderProcessPid();
    };
    const qint64 ownPages = rendererOf(browserAt(1));
    QVERIFY(ownPages > 0);
    QCOMPARE(rendererOf(banner->Browser()), ownPages);
    QVERIFY(rendererOf(browserAt(2)) > 0);
    QVERIFY(rendererOf(browserAt(2)) != ownPages);
}

void TestMain::managerFillsItsTab_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("small") << QSize(640, 420);
    QTest::newRow("large") << QSize(1500, 980);
}

void TestMain::managerFillsItsTab()
{
    QFETCH(QSize, size);
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    open(server_->url(QStringLiteral("/a")));
    QCOMPARE(manager_->parentWidget(), window_->PanelMain);
    QVERIFY(!manager_->isWindow());
    QVERIFY(manager_->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(manager_->isVisible());

    window_->resize(size);
    QTRY_COMPARE(window_->PageControlMain->geometry(), QRect(8, 32, size.width() - 16, size.height() - 40));
    QTRY_COMPARE(manager_->geometry(), window_->PanelMain->rect());
    QCOMPARE(window_->PanelMain->size(), window_->TabSheetForm->size());
    QCOMPARE(window_->EditUrl->width(), size.width() - 117 - 3);
}

void TestMain::plusOpensBlankTabsWithNewTags()
{
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    open(server_->url(QStringLiteral("/a")));
    waitComplete(browserAt(1), QStringLiteral("Alpha"));
    const QString address = window_->EditUrl->text();

    pressPlus();
    QCOMPARE(tabs()->count(), 4);
    QCOMPARE(tabs()->tabText(2), QStringLiteral(" 空白页2  "));
    QCOMPARE(tabs()->tabText(3), QStringLiteral("   +"));
    QCOMPARE(tabs()->currentIndex(), 2);
    QCOMPARE(window_->windowTitle(), QStringLiteral(" 空白页2  "));
    QCOMPARE(window_->EditUrl->text(), address);
    QCOMPARE(static_cast<TTabSheet *>(tabs()->widget(2))->Tag, 2);
    QCOMPARE(window_->m_TabInfo[2].PageIndex, 2);
    QCOMPARE(window_->m_nOldActivePageIndex, 2);
    QVERIFY(window_->m_BrowserList.Find(QStringLiteral("2")));
    // about:blank has no title: the caption stays.
    waitComplete(browserAt(2), QStringLiteral(" 空白页2  "));
    QCOMPARE(browserAt(2)->LocationURL(), QStringLiteral("about:blank"));
    QCOMPARE(window_->EditUrl->text(), address);

    pressPlus();
    QCOMPARE(tabs()->tabText(3), QStringLiteral(" 空白页3  "));
    QCOMPARE(static_cast<TTabSheet *>(tabs()->widget(3))->Tag, 3);

    // Close both, then the next tab takes the next tag and the position's number.
    press(3);
    press(3, 10);
    QTRY_COMPARE(tabs()->count(), 4);
    press(2);
    press(2, 10);
    QTRY_COMPARE(tabs()->count(), 3);
    QCOMPARE(window_->m_BrowserList.Count(), 1);
    pressPlus();
    QCOMPARE(tabs()->tabText(2), QStringLiteral(" 空白页2  "));
    QCOMPARE(static_cast<TTabSheet *>(tabs()->widget(2))->Tag, 4);
    QCOMPARE(window_->m_nBrowserTag, 4);
}

void TestMain::doublePress_data()
{
    QTest::addColumn<qint64>("gapMs");
    QTest::addColumn<bool>("closes");
    QTest::newRow("299 ms") << qint64(299) << true;
    QTest::newRow("300 ms") << qint64(300) << false;
    QTest::newRow("clock set back 299 ms") << qint64(-299) << true;
    QTest::newRow("clock set back 300 ms") << qint64(-300) << false;
}

void TestMain::doublePress()
{
    QFETCH(qint64, gapMs);
    QFETCH(bool, closes);
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    open(server_->url(QStringLiteral("/a")));
    waitComplete(browserAt(1), QStringLiteral("Alpha"));
    pressPlus();
    waitComplete(browserAt(2));
    QCOMPARE(tabs()->currentIndex(), 2);
    const QString caption = window_->windowTitle();
    const QString address = window_->EditUrl->text();

    press(2);
    press(2, gapMs);
    if (closes) {
        QTRY_COMPARE(tabs()->count(), 3);
        QCOMPARE(tabs()->currentIndex(), 1);
        // The window shows the tab that is current now, not the closed one.
        QCOMPARE(caption, QStringLiteral(" 空白页2  "));
        QCOMPARE(window_->windowTitle(), QStringLiteral("Alpha"));
        QCOMPARE(window_->EditUrl->text(), address);
        QVERIFY(!window_->m_BrowserList.Find(QStringLiteral("2")));
        QCOMPARE(window_->m_TabInfo[2].PageIndex, 0);
        QCOMPARE(tabs()->tabText(2), QStringLiteral("   +"));
    } else {
        QTest::qWait(100);
        QCOMPARE(tabs()->count(), 4);
        QCOMPARE(tabs()->currentIndex(), 2);
        QVERIFY(!window_->TimerCloseTab->isActive());
    }
}

void TestMain::doublePressOnPlusOpensAndClosesATab()
{
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    open(server_->url(QStringLiteral("/a")));
    pressPlus();
    QCOMPARE(tabs()->count(), 4);
    press(2, 100); // the second press lands where "+" was: on the new tab
    QTRY_COMPARE(tabs()->count(), 3);
    QCOMPARE(tabs()->tabText(2), QStringLiteral("   +"));
}

void TestMain::managerTabClosesOnlyWhenAlone_data()
{
    QTest::addColumn<bool>("browserTabLeft");
    QTest::newRow("a browser tab is left") << true;
    QTest::newRow("alone with +") << false;
}

void TestMain::managerTabClosesOnlyWhenAlone()
{
    QFETCH(bool, browserTabLeft);
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    open(server_->url(QStringLiteral("/a")));
    QSignalSpy closed(window_.get(), &TFormMain::Closed);
    if (!browserTabLeft) {
        press(1);
        press(1, 50);
        QTRY_COMPARE(tabs()->count(), 2);
        QCOMPARE(tabs()->currentIndex(), 0);
        QVERIFY(window_->isVisible());
    }
    press(0);
    press(0, 50);
    if (browserTabLeft) {
        QTest::qWait(100);
        QCOMPARE(closed.count(), 0);
        QVERIFY(window_->isVisible());
        QCOMPARE(tabs()->count(), 3);
    } else {
        QTRY_COMPARE(closed.count(), 1);
        QVERIFY(!window_->isVisible());
        QVERIFY(window_->m_Existed);
        QCOMPARE(tabs()->count(), 2);
    }
}

void TestMain::documentCompleteInCurrentAndBackgroundTab()
{
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    server_->titled(QStringLiteral("/b"), QStringLiteral("Beta"));
    server_->titled(QStringLiteral("/c"), QStringLiteral("Gamma"));
    open(server_->url(QStringLiteral("/a")));
    waitComplete(browserAt(1), QStringLiteral("Alpha"));
    QCOMPARE(window_->windowTitle(), MainCaption);
    QCOMPARE(window_->EditUrl->text(), server_->url(QStringLiteral("/a")));

    pressPlus();
    waitComplete(browserAt(2));
    // A background tab completes: it is renamed, the window takes the current
    // tab's caption and the address box the completed page's address.
    browserAt(1)->Navigate(server_->url(QStringLiteral("/b")));
    waitComplete(browserAt(1), QStringLiteral("Beta"));
    QCOMPARE(tabs()->currentIndex(), 2);
    QCOMPARE(window_->windowTitle(), QStringLiteral(" 空白页2  "));
    QCOMPARE(window_->EditUrl->text(), server_->url(QStringLiteral("/b")));

    // The current tab completes.
    browserAt(2)->Navigate(server_->url(QStringLiteral("/c")));
    waitComplete(browserAt(2), QStringLiteral("Gamma"));
    QCOMPARE(window_->windowTitle(), QStringLiteral("Gamma"));
    QCOMPARE(window_->EditUrl->text(), server_->url(QStringLiteral("/c")));

    // Picking a tab shows its address and caption.
    press(1);
    QCOMPARE(window_->EditUrl->text(), server_->url(QStringLiteral("/b")));
    QCOMPARE(window_->windowTitle(), QStringLiteral("Beta"));
    // Picking the manager's tab leaves the address box.
    press(0);
    QCOMPARE(window_->EditUrl->text(), server_->url(QStringLiteral("/b")));
    QCOMPARE(window_->windowTitle(), MainCaption);
}

void TestMain::titles_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QString>("caption"); // empty: nothing changes
    QTest::newRow("plain") << QByteArray("<title>Plain</title>") << QStringLiteral("Plain");
    QTest::newRow("surrounding spaces kept") << QByteArray("<title>  Spaced  </title>")
                                             << QStringLiteral("  Spaced  ");
    QTest::newRow("only spaces") << QByteArray("<title>    </title>") << QString();
    QTest::newRow("only control characters") << QByteArray("<title>&#1;&#9;&#10;&#31; &#2;</title>") << QString();
    QTest::newRow("no title") << QByteArray("") << QString();
    QTest::newRow("set by script") << QByteArray("<script>document.title = ' Scripted';</script>")
                                   << QStringLiteral(" Scripted");
}

void TestMain::titles()
{
    QFETCH(QByteArray, head);
    QFETCH(QString, caption);
    server_->page(QStringLiteral("/t"), "<!DOCTYPE html><html><head><meta charset=\"utf-8\">" + head + "</head><body>text</body></html>");
    open(server_->url(QStringLiteral("/t")));
    waitComplete(browserAt(1));
    if (caption.isEmpty()) {
        QCOMPARE(tabs()->tabText(1), QStringLiteral("默认网页"));
        QCOMPARE(window_->EditUrl->text(), QString());
    } else {
        QCOMPARE(tabs()->tabText(1), caption);
        QCOMPARE(window_->EditUrl->text(), server_->url(QStringLiteral("/t")));
    }
    QCOMPARE(window_->windowTitle(), MainCaption);
}

// The user's click on the page: a script's window.open, or a link with a new-window target.
void TestMain::newWindowRequestsBecomeTabs_data()
{
    QTest::addColumn<QByteArray>("opener");
    QTest::newRow("window.open") << buttonPage(QStringLiteral("Opener"), "window.open('/child');");
    QTest::newRow("window.open with a size")
        << buttonPage(QStringLiteral("Opener"), "window.open('/child', 'x', 'width=300,height=200');");
    QTest::newRow("target=_blank")
        << scriptPage(QStringLiteral("Opener"),
                      "<a href=\"/child\" target=\"_blank\" style=\"position:fixed;left:0;top:0;width:100%;"
                      "height:100%\">child</a>");
}

void TestMain::newWindowRequestsBecomeTabs()
{
    QFETCH(QByteArray, opener);
    server_->page(QStringLiteral("/opener"), opener);
    server_->titled(QStringLiteral("/child"), QStringLiteral("Child"));
    open(server_->url(QStringLiteral("/opener")));
    waitComplete(browserAt(1), QStringLiteral("Opener"));
    QVERIFY(clickPage(1, [this] { return tabs()->count() == 4; }));
    QCOMPARE(tabs()->currentIndex(), 2);
    QCOMPARE(static_cast<TTabSheet *>(tabs()->widget(2))->Tag, 2);
    QTRY_COMPARE_WITH_TIMEOUT(tabs()->tabText(2), QStringLiteral("Child"), 10000);
    QCOMPARE(browserAt(2)->LocationURL(), server_->url(QStringLiteral("/child")));
    QCOMPARE(window_->windowTitle(), QStringLiteral("Child"));
    QCOMPARE(server_->hits(QStringLiteral("/child")), 1);
}

// Without the user's gesture a page opens nothing, however it asks.
void TestMain::scriptOpensNoTabWithoutAGesture_data()
{
    QTest::addColumn<QByteArray>("opener");
    QTest::newRow("window.open") << QByteArray("<script>window.open('/child');</script>");
    QTest::newRow("target=_blank clicked by script")
        << QByteArray("<a id=\"a\" href=\"/child\" target=\"_blank\">child</a>"
                      "<script>document.getElementById('a').click();</script>");
    QTest::newRow("window.open later") << QByteArray("<script>setTimeout(function () { window.open('/child'); }, 100);"
                                                     "</script>");
}

void TestMain::scriptOpensNoTabWithoutAGesture()
{
    QFETCH(QByteArray, opener);
    server_->page(QStringLiteral("/opener"), scriptPage(QStringLiteral("Opener"), opener + "<script>"
                                                                                           "setTimeout(function () { document.title = 'Ran'; }, 300);</script>"));
    server_->titled(QStringLiteral("/child"), QStringLiteral("Child"));
    open(server_->url(QStringLiteral("/opener")));
    auto *view = PageView(browserAt(1));
    QTRY_COMPARE_WITH_TIMEOUT(view->title(), QStringLiteral("Ran"), 10000);
    QTest::qWait(200);
    QCOMPARE(tabs()->count(), 3);
    QCOMPARE(server_->hits(QStringLiteral("/child")), 0);
    QCOMPARE(window_->m_nBrowserTag, 1);
}

// A page that asks for a hundred tabs gets none by itself and a few for one click
// of the user; its chain of boxes stops when the user says so, and the manager's
// tab stays within reach.
void TestMain::pageThatTriesToOpenAHundredTabsAndChainBoxes()
{
    server_->page(QStringLiteral("/storm"),
                  buttonPage(QStringLiteral("Storm"), "for (var i = 0; i < 100; ++i) window.open('/spawn' + i);",
                             "<script>for (var i = 0; i < 100; ++i) window.open('/spawn' + i);"
                             "for (var j = 0; j < 30; ++j) alert('第 ' + j + ' 个');"
                             "document.title = 'Asked ' + (confirm('continue?') ? 'yes' : 'no') + ' '"
                             "  + prompt('name?', 'x');</script>"));
    PageDialogDriver dialogs(2);
    open(server_->url(QStringLiteral("/storm")));
    auto *view = PageView(browserAt(1));
    // Two boxes: the user stops the page's boxes at the second; confirm and
    // prompt then answer as cancelled without a box.
    QTRY_COMPARE_WITH_TIMEOUT(view->title(), QStringLiteral("Asked no null"), 15000);
    QCOMPARE(dialogs.messages, (QStringList{QStringLiteral("第 0 个"), QStringLiteral("第 1 个")}));
    const int port = QUrl(server_->url(QString())).port();
    const QString origin = QStringLiteral("127.0.0.1:%1 上的网页显示：").arg(port);
    QCOMPARE(dialogs.origins, (QStringList{origin, origin}));
    QCOMPARE(tabs()->count(), 3);
    QCOMPARE(server_->hits(QStringLiteral("/spawn0")), 0);

    // One click of the user: a tab or a few, not a hundred.
    QVERIFY(clickPage(1, [this] { return tabs()->count() > 3; }));
    QTest::qWait(300);
    QVERIFY2(tabs()->count() <= 3 + WebEngineBrowser::MaxNewWindows, qPrintable(QString::number(tabs()->count())));
    // Click after click, the page still gets only a few within a while.
    for (int round = 0; round < 2 * WebEngineBrowser::MaxNewWindows; ++round) {
        const int before = tabs()->count();
        if (before == 3 + WebEngineBrowser::MaxNewWindows)
            break;
        QVERIFY(clickPage(1, [this, before] { return tabs()->count() > before; }));
    }
    QCOMPARE(tabs()->count(), 3 + WebEngineBrowser::MaxNewWindows);
    for (int click = 0; click < 3; ++click) {
        press(1);
        QTest::qWait(150);
        QWidget *page = PageView(browserAt(1))->focusProxy();
        QTest::mouseClick(page, Qt::LeftButton, {}, page->rect().center());
        QTest::qWait(200);
    }
    QCOMPARE(tabs()->count(), 3 + WebEngineBrowser::MaxNewWindows);
    QCOMPARE(tabs()->tabText(tabs()->count() - 1), QStringLiteral("   +"));

    // The manager's tab is still within reach.
    press(0);
    QCOMPARE(tabs()->currentIndex(), 0);
    QCOMPARE(window_->windowTitle(), MainCaption);
    QCOMPARE(dialogs.messages.size(), 2);
}

void TestMain::closeButtonsOnBrowserTabsOnly()
{
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    open(server_->url(QStringLiteral("/a")));
    pressPlus();
    QCOMPARE(tabs()->count(), 4);
    QVERIFY(!closeButton(0));
    QVERIFY(closeButton(1));
    QVERIFY(closeButton(2));
    QVERIFY(!closeButton(3));
    QVERIFY(closeButton(1)->isVisible());
}

void TestMain::userClosesATab_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("close button") << QStringLiteral("button");
    QTest::newRow("middle click") << QStringLiteral("middle");
    QTest::newRow("Ctrl+W in the address box") << QStringLiteral("ctrl+w");
    QTest::newRow("Ctrl+W in the page") << QStringLiteral("ctrl+w page");
    QTest::newRow("double press") << QStringLiteral("double");
}

// The current tab closes; the one before it becomes current, and the caption and
// the address box show it.
void TestMain::userClosesATab()
{
    QFETCH(QString, how);
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    server_->titled(QStringLiteral("/b"), QStringLiteral("Beta"));
    open(server_->url(QStringLiteral("/a")));
    waitComplete(browserAt(1), QStringLiteral("Alpha"));
    pressPlus();
    browserAt(2)->Navigate(server_->url(QStringLiteral("/b")));
    waitComplete(browserAt(2), QStringLiteral("Beta"));
    QCOMPARE(window_->windowTitle(), QStringLiteral("Beta"));
    QCOMPARE(window_->EditUrl->text(), server_->url(QStringLiteral("/b")));
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));

    QTabBar *bar = tabs()->TabBar();
    if (how == QStringLiteral("button")) {
        QTest::mouseClick(closeButton(2), Qt::LeftButton);
    } else if (how == QStringLiteral("middle")) {
        QTest::mouseClick(bar, Qt::MiddleButton, {}, bar->tabRect(2).center());
    } else if (how.startsWith(QStringLiteral("ctrl+w"))) {
        QWidget *focus = how.endsWith(QStringLiteral("page"))
            ? PageView(browserAt(2))->focusProxy()
            : static_cast<QWidget *>(window_->EditUrl);
        focus->setFocus();
        QTRY_VERIFY(focus->hasFocus());
        QTest::keyClick(focus, Qt::Key_W, Qt::ControlModifier);
    } else {
        press(2);
        press(2, 100);
    }
    QTRY_COMPARE(tabs()->count(), 3);
    QCOMPARE(tabs()->currentIndex(), 1);
    QCOMPARE(tabs()->tabText(1), QStringLiteral("Alpha"));
    QCOMPARE(window_->windowTitle(), QStringLiteral("Alpha"));
    QCOMPARE(window_->EditUrl->text(), server_->url(QStringLiteral("/a")));
    QVERIFY(!window_->m_BrowserList.Find(QStringLiteral("2")));

    // The last browser tab closes too; the manager's tab shows no address.
    QTest::mouseClick(closeButton(1), Qt::LeftButton);
    QTRY_COMPARE(tabs()->count(), 2);
    QCOMPARE(tabs()->currentIndex(), 0);
    QCOMPARE(window_->windowTitle(), MainCaption);
    QCOMPARE(window_->EditUrl->text(), QString());
    QVERIFY(window_->isVisible());
}

void TestMain::closingABackgroundTabKeepsTheCurrentOne_data()
{
    QTest::addColumn<bool>("middleClick");
    QTest::newRow("close button") << false;
    QTest::newRow("middle click") << true;
}

void TestMain::closingABackgroundTabKeepsTheCurrentOne()
{
    QFETCH(bool, middleClick);
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    server_->titled(QStringLiteral("/c"), QStringLiteral("Gamma"));
    open(server_->url(QStringLiteral("/a")));
    waitComplete(browserAt(1), QStringLiteral("Alpha"));
    pressPlus();
    pressPlus();
    browserAt(3)->Navigate(server_->url(QStringLiteral("/c")));
    waitComplete(browserAt(3), QStringLiteral("Gamma"));
    QCOMPARE(tabs()->currentIndex(), 3);

    QTabBar *bar = tabs()->TabBar();
    if (middleClick)
        QTest::mouseClick(bar, Qt::MiddleButton, {}, bar->tabRect(1).center());
    else
        QTest::mouseClick(closeButton(1), Qt::LeftButton);
    QTRY_COMPARE(tabs()->count(), 4);
    QCOMPARE(tabs()->currentIndex(), 2);
    QCOMPARE(tabs()->tabText(2), QStringLiteral("Gamma"));
    QCOMPARE(window_->windowTitle(), QStringLiteral("Gamma"));
    QCOMPARE(window_->EditUrl->text(), server_->url(QStringLiteral("/c")));
    QCOMPARE(tabs()->tabText(1), QStringLiteral(" 空白页2  "));
}

// Neither the manager's tab nor "+" closes by a middle click or Ctrl+W, and a
// middle click on "+" opens nothing.
void TestMain::managerTabAndPlusDoNotCloseByTheUser()
{
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    open(server_->url(QStringLiteral("/a")));
    QSignalSpy closed(window_.get(), &TFormMain::Closed);
    press(1);
    QTest::mouseClick(closeButton(1), Qt::LeftButton); // only the manager's tab and "+" are left
    QTRY_COMPARE(tabs()->count(), 2);
    QTabBar *bar = tabs()->TabBar();
    now_ = now_.addSecs(1); // no double press
    QTest::mouseClick(bar, Qt::MiddleButton, {}, bar->tabRect(0).center());
    now_ = now_.addSecs(1);
    QTest::mouseClick(bar, Qt::MiddleButton, {}, bar->tabRect(1).center());
    now_ = now_.addSecs(1);
    window_->EditUrl->setFocus();
    QTest::keyClick(window_->EditUrl, Qt::Key_W, Qt::ControlModifier);
    QTest::qWait(100);
    QCOMPARE(tabs()->count(), 2);
    QCOMPARE(closed.count(), 0);
    QVERIFY(window_->isVisible());
}

void TestMain::newTabPutsTheCursorInTheAddressBox_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("+") << QStringLiteral("+");
    QTest::newRow("Ctrl+T in the manager's tab") << QStringLiteral("ctrl+t");
    QTest::newRow("Ctrl+T in a page") << QStringLiteral("ctrl+t page");
}

void TestMain::newTabPutsTheCursorInTheAddressBox()
{
    QFETCH(QString, how);
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    server_->titled(QStringLiteral("/typed"), QStringLiteral("Typed"));
    open(server_->url(QStringLiteral("/a")));
    waitComplete(browserAt(1), QStringLiteral("Alpha"));
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    if (how == QStringLiteral("+")) {
        pressPlus();
    } else {
        QWidget *focus = window_->PanelMain;
        if (how.endsWith(QStringLiteral("page"))) {
            press(1);
            focus = PageView(browserAt(1))->focusProxy();
        }
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key_T, Qt::ControlModifier);
    }
    QCOMPARE(tabs()->count(), 4);
    QCOMPARE(tabs()->currentIndex(), 2);
    QCOMPARE(tabs()->tabText(2), QStringLiteral(" 空白页2  "));
    QCOMPARE(window_->windowTitle(), QStringLiteral(" 空白页2  "));
    QTRY_VERIFY(window_->EditUrl->hasFocus());
    // What the user types replaces the address shown, and Enter takes the new tab there.
    QTest::keyClicks(QApplication::focusWidget(), server_->url(QStringLiteral("/typed")));
    QCOMPARE(window_->EditUrl->text(), server_->url(QStringLiteral("/typed")));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    waitComplete(browserAt(2), QStringLiteral("Typed"));
}

void TestMain::loadingTabShowsIt()
{
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    server_->hang(QStringLiteral("/hang"));
    open(server_->url(QStringLiteral("/a")));
    waitComplete(browserAt(1), QStringLiteral("Alpha"));
    QTRY_VERIFY(tabs()->tabIcon(1).isNull());
    QCOMPARE(tabs()->tabToolTip(1), QString());
    QVERIFY(!browserAt(1)->Busy());

    browserAt(1)->Navigate(server_->url(QStringLiteral("/hang")));
    QTRY_VERIFY_WITH_TIMEOUT(!tabs()->tabIcon(1).isNull(), 10000);
    QVERIFY(browserAt(1)->Busy());
    QCOMPARE(tabs()->tabToolTip(1), QStringLiteral("正在加载…"));
    QCOMPARE(tabs()->tabText(1), QStringLiteral("Alpha"));
    QVERIFY(tabs()->tabIcon(0).isNull());

    press(1);
    window_->SpeedButtonStop->click();
    QTRY_VERIFY_WITH_TIMEOUT(tabs()->tabIcon(1).isNull(), 10000);
    QVERIFY(!browserAt(1)->Busy());
    QCOMPARE(tabs()->tabToolTip(1), QString());
}

// The wheel over the tab strip moves between the tabs and never onto "+": it opens
// no tab. A tab it picks shows in the caption and the address box.
void TestMain::wheelOpensNoTabs()
{
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    open(server_->url(QStringLiteral("/a")));
    waitComplete(browserAt(1), QStringLiteral("Alpha"));
    QTabBar *bar = tabs()->TabBar();
    const auto wheel = [bar](int notches) {
        for (int i = 0; i < qAbs(notches); ++i) {
            const QPointF at = bar->tabRect(0).center();
            QWheelEvent event(at, bar->mapToGlobal(at), QPoint(), QPoint(0, notches < 0 ? -120 : 120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(bar, &event);
        }
    };
    QCOMPARE(tabs()->currentIndex(), 0);
    wheel(-1);
    QCOMPARE(tabs()->currentIndex(), 1); // the wheel does move between the tabs
    QCOMPARE(window_->windowTitle(), QStringLiteral("Alpha"));
    QCOMPARE(window_->EditUrl->text(), server_->url(QStringLiteral("/a")));
    wheel(-4);
    QTest::qWait(50);
    QCOMPARE(tabs()->count(), 3);
    QCOMPARE(tabs()->currentIndex(), 1);
    QCOMPARE(window_->m_nBrowserTag, 1);
    QVERIFY(bar->isTabEnabled(2));
    wheel(1);
    QCOMPARE(tabs()->currentIndex(), 0);
    QCOMPARE(window_->windowTitle(), MainCaption);
    // "+" still opens a tab when the user picks it.
    pressPlus();
    QCOMPARE(tabs()->count(), 4);
}

// Kept in the configuration folder when the window closes, taken at the next start.
void TestMain::windowSizeAndPlaceAreRemembered()
{
    open(QStringLiteral("about:blank"));
    window_->setGeometry(QRect(QPoint(37, 41), QSize(820, 610)));
    QTRY_COMPARE(window_->size(), QSize(820, 610));
    const QRect placed = window_->geometry();
    QVERIFY(window_->close());
    QVERIFY(QFile::exists(SettingsFilePath()));
    QVERIFY(SettingsFilePath().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
    manager_.reset();
    window_.reset();

    window_ = std::make_unique<TFormMain>(QStringLiteral("about:blank"));
    QCOMPARE(window_->geometry(), placed);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QCOMPARE(window_->geometry(), placed);
    QCOMPARE(window_->PageControlMain->geometry(), QRect(8, 32, 820 - 16, 610 - 40));
}

// The shipped default page tells how the program is used as it is: F3, Enter or the
// connect button open a session, a double click opens the settings.
void TestMain::defaultPageSaysWhatTheProgramDoes()
{
    window_ = std::make_unique<TFormMain>();
    window_->show();
    waitComplete(browserAt(1), QStringLiteral("Brennic 默认网页"));
    auto *view = PageView(browserAt(1));
    QString text;
    bool answered = false;
    view->page()->toPlainText([&](const QString &plain) {
        text = plain;
        answered = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(answered, 10000);
    QVERIFY2(text.contains(QStringLiteral("F3")) && text.contains(QStringLiteral("Enter"))
                 && text.contains(QStringLiteral("“连接”按钮")),
             qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("双击服务器打开它的设置")), qPrintable(text));
    QVERIFY2(!text.contains(QStringLiteral("F3 或双击")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("Ctrl+T")) && text.contains(QStringLiteral("Ctrl+W")), qPrintable(text));
}

// With the toolkit's Chinese translations loaded, its standard buttons speak the
// interface's language: the window's own question, a page's box, a tab's close button.
void TestMain::standardButtonsSpeakChinese()
{
    QVERIFY2(InstallTranslations(qApp), "qt6-translations-l10n is not installed (scripts/setup.sh installs it)");
    server_->page(QStringLiteral("/closer"),
                  scriptPage(QStringLiteral("Closer"), "<script>alert('hi');"
                                                       "setTimeout(function () { window.close(); }, 300);</script>"));
    // A real box: its buttons speak the interface's language.
    QStringList questions, texts;
    DialogAnswers driver([&](QDialog *w) {
        for (QAbstractButton *button : qobject_cast<QMessageBox *>(w)->buttons())
            texts << button->text();
        DialogAnswers::pressing(QMessageBox::No, &questions)(w);
    });
    driver.only = DialogAnswers::messageBoxes;
    PageDialogDriver dialogs(99);
    open(server_->url(QStringLiteral("/closer")));
    press(1);
    QTRY_COMPARE_WITH_TIMEOUT(driver.answered(), 1, 10000);
    QCOMPARE(questions, QStringList{CloseQuestion});
    QCOMPARE(texts.size(), 2);
    QVERIFY2(texts.join(QLatin1Char(' ')).contains(QStringLiteral("是"))
                 && texts.join(QLatin1Char(' ')).contains(QStringLiteral("否")),
             qPrintable(texts.join(QLatin1Char(' '))));
    QCOMPARE(dialogs.buttonTexts, QStringList{QStringLiteral("确定")});
    pressPlus();
    QVERIFY(closeButton(2));
    QCOMPARE(closeButton(2)->toolTip(), QStringLiteral("关闭标签页"));
}

void TestMain::scriptOpenedPageClosesWithoutQuestion()
{
    server_->page(QStringLiteral("/opener"),
                  buttonPage(QStringLiteral("Opener"), "window.open('/closer');"));
    server_->page(QStringLiteral("/closer"),
                  scriptPage(QStringLiteral("Closer"), "<script>setTimeout(function () { window.close(); }, 300);"
                                                       "</script>"));
    MessageBoxAnswers driver(QMessageBox::No);
    open(server_->url(QStringLiteral("/opener")));
    waitComplete(browserAt(1), QStringLiteral("Opener"));
    QVERIFY(clickPage(1, [this] { return tabs()->count() == 4; }));
    QTRY_COMPARE_WITH_TIMEOUT(tabs()->count(), 3, 10000);
    QCOMPARE(driver.boxes.size(), 0);
    QCOMPARE(tabs()->tabText(1), QStringLiteral("Opener"));
    QCOMPARE(tabs()->currentIndex(), 1);
}

void TestMain::userOpenedPageAsks_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<int>("tabsAfter");
    QTest::newRow("Yes closes the tab") << QMessageBox::Yes << 2;
    QTest::newRow("No keeps it") << QMessageBox::No << 3;
}

void TestMain::userOpenedPageAsks()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(int, tabsAfter);
    server_->page(QStringLiteral("/closer"),
                  scriptPage(QStringLiteral("Closer"), "<script>setTimeout(function () { window.close(); }, 300);"
                                                       "</script>"));
    MessageBoxAnswers driver(answer);
    open(server_->url(QStringLiteral("/closer")));
    press(1);
    QCOMPARE(tabs()->currentIndex(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(driver.boxes.size(), 1, 10000);
    QTRY_COMPARE(tabs()->count(), tabsAfter);
    QCOMPARE(driver.boxes.first().text, CloseQuestion);
    QCOMPARE(driver.boxes.first().title, AppTitle());
    QCOMPARE(driver.boxes.first().icon, QMessageBox::Question);
    QCOMPARE(driver.boxes.first().buttons, QMessageBox::Yes | QMessageBox::No);
    // The window switched to the position recorded by the last tab creation (none: 0).
    QCOMPARE(tabs()->currentIndex(), 0);
    QTest::qWait(50);
    QCOMPARE(tabs()->count(), tabsAfter);
}

void TestMain::escAndF5_data()
{
    QTest::addColumn<bool>("inAddressBox");
    QTest::newRow("focus in the address box") << true;
    QTest::newRow("focus in the page") << false;
}

void TestMain::escAndF5()
{
    QFETCH(bool, inAddressBox);
    server_->titled(QStringLiteral("/count"), QStringLiteral("Counted"));
    server_->hang(QStringLiteral("/hang"));
    open(server_->url(QStringLiteral("/count")));
    waitComplete(browserAt(1), QStringLiteral("Counted"));
    press(1);
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    auto *view = PageView(browserAt(1));
    QWidget *focus = inAddressBox ? static_cast<QWidget *>(window_->EditUrl) : view->focusProxy();
    QVERIFY(focus);
    focus->setFocus();
    QTRY_VERIFY(focus->hasFocus());

    QTest::keyClick(focus, Qt::Key_F5);
    QTRY_COMPARE_WITH_TIMEOUT(server_->hits(QStringLiteral("/count")), 2, 10000);

    QSignalSpy finished(view, &QWebEngineView::loadFinished);
    browserAt(1)->Navigate(server_->url(QStringLiteral("/hang")));
    QTRY_COMPARE_WITH_TIMEOUT(server_->hits(QStringLiteral("/hang")), 1, 10000);
    QTest::qWait(100);
    QCOMPARE(finished.count(), 0);
    focus->setFocus();
    QTest::keyClick(focus, Qt::Key_Escape);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
    QCOMPARE(finished.first().first().toBool(), false);

    if (inAddressBox) {
        // The keys go on to the address box as well.
        QTest::keyClicks(window_->EditUrl, QStringLiteral("xyz"));
        QVERIFY(window_->EditUrl->text().endsWith(QStringLiteral("xyz")));
    }
}

void TestMain::enterInTheAddressBox_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<int>("hits");
    QTest::newRow("web tab navigates") << 1 << 1;
    QTest::newRow("manager's tab does nothing") << 0 << 0;
}

void TestMain::enterInTheAddressBox()
{
    QFETCH(int, tab);
    QFETCH(int, hits);
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    server_->titled(QStringLiteral("/typed"), QStringLiteral("Typed"));
    MessageBoxAnswers driver;
    open(server_->url(QStringLiteral("/a")));
    waitComplete(browserAt(1), QStringLiteral("Alpha"));
    press(tab == 1 ? 1 : 0);
    QCOMPARE(tabs()->currentIndex(), tab);
    window_->EditUrl->setFocus(); // the user clicks into the address box
    window_->EditUrl->setText(server_->url(QStringLiteral("/typed")));
    QTest::keyClick(window_->EditUrl, Qt::Key_Return);
    if (hits)
        waitComplete(browserAt(1), QStringLiteral("Typed"));
    else
        QTest::qWait(300);
    QCOMPARE(server_->hits(QStringLiteral("/typed")), hits);
    QCOMPARE(driver.boxes.size(), 0);
}

void TestMain::backWithoutHistoryDoesNothing()
{
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    server_->titled(QStringLiteral("/b"), QStringLiteral("Beta"));
    MessageBoxAnswers driver;
    open(server_->url(QStringLiteral("/a")));
    waitComplete(browserAt(1), QStringLiteral("Alpha"));
    press(1);
    window_->SpeedButtonBack->click();
    window_->SpeedButtonForward->click();
    QTest::qWait(200);
    QCOMPARE(browserAt(1)->LocationURL(), server_->url(QStringLiteral("/a")));
    QCOMPARE(driver.boxes.size(), 0);

    // With history the buttons move in it.
    browserAt(1)->Navigate(server_->url(QStringLiteral("/b")));
    waitComplete(browserAt(1), QStringLiteral("Beta"));
    window_->SpeedButtonBack->click();
    waitComplete(browserAt(1), QStringLiteral("Alpha"));
    window_->SpeedButtonForward->click();
    waitComplete(browserAt(1), QStringLiteral("Beta"));
}

void TestMain::noTabWhileTheWindowCloses()
{
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    server_->titled(QStringLiteral("/b"), QStringLiteral("Beta"));
    server_->titled(QStringLiteral("/child"), QStringLiteral("Child"));
    open(server_->url(QStringLiteral("/a")));
    waitComplete(browserAt(1), QStringLiteral("Alpha"));
    QVERIFY(window_->close());
    QVERIFY(window_->m_Existed);

    auto *view = PageView(browserAt(1));
    view->page()->runJavaScript(QStringLiteral("window.open('/child');"));
    browserAt(1)->Navigate(server_->url(QStringLiteral("/b")));
    QSignalSpy completed(browserAt(1), &WebBrowser::DocumentComplete);
    QVERIFY(completed.wait(10000));
    QTest::qWait(200);
    QCOMPARE(tabs()->count(), 3);
    QCOMPARE(window_->m_nBrowserTag, 1);
    QCOMPARE(tabs()->tabText(1), QStringLiteral("Alpha"));
    QCOMPARE(window_->EditUrl->text(), server_->url(QStringLiteral("/a")));
}

void TestMain::closingAsksNoOtherWindow()
{
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    window_ = std::make_unique<TFormMain>(server_->url(QStringLiteral("/a")));
    auto manager = std::make_unique<CloseCounter>(nullptr, Qt::Window);
    auto *session = new CloseCounter(manager.get(), Qt::Window); // a session window the manager owns
    QPointer<QWidget> sessionAlive(session);
    window_->SetManager(manager.get());
    window_->show();
    session->show();
    QVERIFY(QTest::qWaitForWindowExposed(session));
    QSignalSpy closed(window_.get(), &TFormMain::Closed);

    QVERIFY(window_->close());
    QCOMPARE(closed.count(), 1);
    QVERIFY(!window_->isVisible());
    QCOMPARE(manager->closeRequests, 0);
    QCOMPARE(session->closeRequests, 0);
    // The program then destroys the manager before the main window, and the
    // session windows go with it.
    manager.reset();
    QVERIFY(sessionAlive.isNull());
    window_.reset();
}

void TestMain::logonWindowIsEmpty()
{
    TfrmLogon logon;
    QCOMPARE(logon.windowTitle(), QStringLiteral("登陆信息"));
    QVERIFY(logon.isWindow());
    QVERIFY(!logon.isVisible());
    QVERIFY(logon.findChildren<QWidget *>().isEmpty());
}

// The web engine was prepared with X11's GL integration off; once the application
// runs, programs it starts (the desktop's browser) get the user's environment back.
void TestMain::glSettingIsNotPassedOn()
{
    QCoreApplication::processEvents();
    QVERIFY2(!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"), qgetenv("QT_XCB_GL_INTEGRATION").constData());
}

// As root the web engine runs only with its sandbox switch, which it gets on its
// command line: the environment that programs started from here inherit has none.
void TestMain::sandboxSwitchIsNotPassedOn()
{
    QVERIFY(!qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"));
    QVERIFY(!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS"));
    if (geteuid() == 0)
        QVERIFY(QCoreApplication::arguments().contains(QStringLiteral("--no-sandbox")));
    else
        QVERIFY(!QCoreApplication::arguments().contains(QStringLiteral("--no-sandbox")));
}

// The program's default page names the server list file in use; its address stays the plain page's.
void TestMain::defaultPageNamesTheServerListFile()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("列表 & 文件.ini"));
    UseIniFile(file);
    open(DefaultPageShowingFile());
    waitComplete(browserAt(1), QStringLiteral("Brennic 默认网页"));
    QCOMPARE(window_->EditUrl->text(), QStringLiteral("qrc:/pages/default.html"));
    auto *view = tabs()->widget(1)->findChild<QWebEngineView *>();
    QVERIFY(view);
    QString text;
    view->page()->toPlainText([&text](const QString &plain) { text = plain; });
    QTRY_VERIFY_WITH_TIMEOUT(text.contains(file), 10000);
    ReleaseCatalogue();
}

BRENNIC_WEB_TEST_MAIN(TestMain)
#include "tst_main.moc"
