// The tabbed browser window: its tabs, captions, address box, keys and the pages'
// requests, against pages served by the test on loopback.
#include "LogonForm.h"
#include "Main.h"
#include "ModalDriver.h"
#include "PageControl.h"
#include "PageServer.h"
#include "RdpCommon.h"
#include "ShellPages.h"
#include "TabSheet.h"
#include "WebBrowser.h"
#include "WebEngineBrowser.h"
#include "WebTestMain.h"

#include "AppError.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QWebEngineView>
#include <memory>

namespace {

const QString MainCaption = QStringLiteral("Brennic 1.8 Talvane");
const QString CloseQuestion = QStringLiteral("您查看的网页正在试图关闭窗口。\r\n\r\n是否关闭此窗口？");

QByteArray scriptPage(const QString &title, const QByteArray &body)
{
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + title.toUtf8() + "</title></head><body>"
           + body + "</body></html>";
}

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

private:
    void open(const QString &defaultPage);
    TPageControl *tabs() const { return window_->PageControlMain; }
    QStringList captions() const;
    WebBrowser *browserAt(int position) const;
    void waitComplete(WebBrowser *browser, const QString &caption = QString());
    // One press on the tab strip at the tab's place, `afterMs` after the previous one.
    void press(int position, qint64 afterMs = 1000);
    void pressPlus() { press(tabs()->count() - 1); }

    PageServer *server_ = nullptr;
    std::unique_ptr<TFormMain> window_;
    std::unique_ptr<QWidget> manager_;
    QDateTime now_;
};

void TestMain::init()
{
    server_ = new PageServer;
    now_ = QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);
}

void TestMain::cleanup()
{
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
        QCOMPARE(window_->windowTitle(), caption);
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
    server_->page(QStringLiteral("/t"), "<!DOCTYPE html><html><head><meta charset=\"utf-8\">" + head
                                            + "</head><body>text</body></html>");
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

void TestMain::newWindowRequestsBecomeTabs_data()
{
    QTest::addColumn<QByteArray>("opener");
    QTest::newRow("window.open") << QByteArray("<script>window.open('/child');</script>");
    QTest::newRow("window.open with a size")
        << QByteArray("<script>window.open('/child', 'x', 'width=300,height=200');</script>");
    QTest::newRow("target=_blank")
        << QByteArray("<a id=\"a\" href=\"/child\" target=\"_blank\">child</a>"
                      "<script>document.getElementById('a').click();</script>");
}

void TestMain::newWindowRequestsBecomeTabs()
{
    QFETCH(QByteArray, opener);
    server_->page(QStringLiteral("/opener"), scriptPage(QStringLiteral("Opener"), opener));
    server_->titled(QStringLiteral("/child"), QStringLiteral("Child"));
    open(server_->url(QStringLiteral("/opener")));
    QTRY_COMPARE_WITH_TIMEOUT(tabs()->count(), 4, 10000);
    QCOMPARE(tabs()->currentIndex(), 2);
    QCOMPARE(static_cast<TTabSheet *>(tabs()->widget(2))->Tag, 2);
    QTRY_COMPARE_WITH_TIMEOUT(tabs()->tabText(2), QStringLiteral("Child"), 10000);
    QCOMPARE(browserAt(2)->LocationURL(), server_->url(QStringLiteral("/child")));
    QCOMPARE(window_->windowTitle(), QStringLiteral("Child"));
    QCOMPARE(server_->hits(QStringLiteral("/child")), 1);
}

void TestMain::scriptOpenedPageClosesWithoutQuestion()
{
    server_->page(QStringLiteral("/opener"),
                  scriptPage(QStringLiteral("Opener"), "<script>window.open('/closer');</script>"));
    server_->page(QStringLiteral("/closer"),
                  scriptPage(QStringLiteral("Closer"), "<script>setTimeout(function () { window.close(); }, 300);"
                                                       "</script>"));
    ModalDriver driver(QMessageBox::No);
    open(server_->url(QStringLiteral("/opener")));
    QTRY_COMPARE_WITH_TIMEOUT(tabs()->count(), 4, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(tabs()->count(), 3, 10000);
    QCOMPARE(driver.seen().size(), 0);
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
    ModalDriver driver(answer);
    open(server_->url(QStringLiteral("/closer")));
    press(1);
    QCOMPARE(tabs()->currentIndex(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(driver.seen().size(), 1, 10000);
    QTRY_COMPARE(tabs()->count(), tabsAfter);
    QCOMPARE(driver.seen().first().text, CloseQuestion);
    QCOMPARE(driver.seen().first().title, AppTitle());
    QCOMPARE(driver.seen().first().icon, QMessageBox::Question);
    QCOMPARE(driver.seen().first().buttons, QMessageBox::Yes | QMessageBox::No);
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
    auto *view = static_cast<WebEngineBrowser *>(browserAt(1))->View();
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
    ModalDriver driver;
    open(server_->url(QStringLiteral("/a")));
    waitComplete(browserAt(1), QStringLiteral("Alpha"));
    press(tab == 1 ? 1 : 0);
    QCOMPARE(tabs()->currentIndex(), tab);
    window_->EditUrl->setText(server_->url(QStringLiteral("/typed")));
    QTest::keyClick(window_->EditUrl, Qt::Key_Return);
    if (hits)
        waitComplete(browserAt(1), QStringLiteral("Typed"));
    else
        QTest::qWait(300);
    QCOMPARE(server_->hits(QStringLiteral("/typed")), hits);
    QCOMPARE(driver.seen().size(), 0);
}

void TestMain::backWithoutHistoryDoesNothing()
{
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    server_->titled(QStringLiteral("/b"), QStringLiteral("Beta"));
    ModalDriver driver;
    open(server_->url(QStringLiteral("/a")));
    waitComplete(browserAt(1), QStringLiteral("Alpha"));
    press(1);
    window_->SpeedButtonBack->click();
    window_->SpeedButtonForward->click();
    QTest::qWait(200);
    QCOMPARE(browserAt(1)->LocationURL(), server_->url(QStringLiteral("/a")));
    QCOMPARE(driver.seen().size(), 0);

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

    auto *view = static_cast<WebEngineBrowser *>(browserAt(1))->View();
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
