// The manager's banner and link button: no context menu on the banner, its links
// (new-window ones too) and the button open in the desktop's browser, and a failure
// to do so is reported. No address of ours is built in: the button opens the address
// set in the user's settings, or the program's about page.
#include "AboutForm.h"
#include "RdpCommon.h"
#include "AppError.h"
#include "Banner.h"
#include "LinkButton.h"
#include "MessageBoxAnswers.h"
#include "PageClick.h"
#include "MsgBox.h"
#include "PageServer.h"
#include "ShellPages.h"
#include "ShellSettings.h"
#include "WebBrowser.h"
#include "PageView.h"
#include "WebTestMain.h"

#include <QDesktopServices>
#include <QFile>
#include <QMenu>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QSignalSpy>
#include <QWebEngineView>
#include <memory>

// Takes the addresses of one scheme that the desktop is asked to open.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    explicit OpenedUrls(const QString &scheme) : scheme_(scheme) { QDesktopServices::setUrlHandler(scheme, this, "open"); }
    ~OpenedUrls() override { QDesktopServices::unsetUrlHandler(scheme_); }
    QList<QUrl> urls;

private:
    QString scheme_;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};

class TestBanner : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void bannerShowsTheShippedPage();
    void rightClick_data();
    void rightClick();
    void bannerLinkOpensInTheDesktopBrowser_data();
    void bannerLinkOpensInTheDesktopBrowser();
    void shippedBannerLinksToTheAboutPage();
    void linkButtonOpensTheHomePageEachClick();
    void linkButtonOpensTheAboutPageWhileNoneIsSet();
    void noBuiltInAddressOfOurs();
    void linkButtonReportsAFailure();

private:
    static QWidget *visibleMenu();
    // Clicks into the middle of the control until the page reacts (Chromium drops
    // input that comes before its first frame).
    static bool clickUntil(WebBrowser *browser, Qt::MouseButton button, const std::function<bool()> &done);
};

void TestBanner::cleanup()
{
    SetHomePageSetting(QString());
    for (QWidget *menu : QApplication::topLevelWidgets())
        if (qobject_cast<QMenu *>(menu))
            menu->close();
}

QWidget *TestBanner::visibleMenu()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (qobject_cast<QMenu *>(widget) && widget->isVisible())
            return widget;
    return nullptr;
}

bool TestBanner::clickUntil(WebBrowser *browser, Qt::MouseButton button, const std::function<bool()> &done)
{
    return ClickPageUntil(browser, button, done);
}

void TestBanner::bannerShowsTheShippedPage()
{
    TBanner banner;
    QCOMPARE(banner.size(), QSize(468, 60));
    QSignalSpy completed(banner.Browser(), &WebBrowser::DocumentComplete);
    QVERIFY(completed.wait(10000));
    QCOMPARE(banner.Browser()->LocationURL(), BannerPageUrl());
    QCOMPARE(banner.Browser()->DocumentTitle(), QStringLiteral("Brennic"));
    QCOMPARE(banner.objectName(), QStringLiteral("WebBrowser1"));
}

void TestBanner::rightClick_data()
{
    QTest::addColumn<bool>("banner");
    QTest::addColumn<bool>("menuShown");
    QTest::newRow("banner: no menu") << true << false;
    QTest::newRow("ordinary control: menu") << false << true;
}

void TestBanner::rightClick()
{
    QFETCH(bool, banner);
    QFETCH(bool, menuShown);
    PageServer server;
    server.page(QStringLiteral("/banner"),
                "<!DOCTYPE html><html><head><title>Banner</title></head>"
                "<body style=\"margin:0\"><div style=\"width:468px;height:60px;background:#369\"></div><script>"
                "document.addEventListener('mousedown', function (e) {"
                "  if (e.button == 2) document.title = 'right ' + (++window.n || (window.n = 1));"
                "});</script></body></html>");
    std::unique_ptr<QWidget> host;
    WebBrowser *browser = nullptr;
    if (banner) {
        auto owned = std::make_unique<TBanner>(nullptr, server.url(QStringLiteral("/banner")));
        browser = owned->Browser();
        host = std::move(owned);
    } else {
        host = std::make_unique<QWidget>();
        host->resize(468, 60);
        browser = CreateWebBrowser(host.get());
        browser->resize(468, 60);
        browser->Navigate(server.url(QStringLiteral("/banner")));
    }
    QSignalSpy completed(browser, &WebBrowser::DocumentComplete);
    host->show();
    QVERIFY(QTest::qWaitForWindowExposed(host.get()));
    QVERIFY(completed.wait(10000));

    QWebEngineView *view = PageView(browser);
    // The page sees the right click in both cases.
    QVERIFY(clickUntil(browser, Qt::RightButton, [view] { return view->title().startsWith(QStringLiteral("right")); }));
    if (menuShown) {
        QTRY_VERIFY_WITH_TIMEOUT(visibleMenu(), 5000);
    } else {
        QTest::qWait(500);
        QCOMPARE(visibleMenu(), nullptr);
    }
}

void TestBanner::bannerLinkOpensInTheDesktopBrowser_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::newRow("same window") << QByteArray();
    QTest::newRow("target=_blank") << QByteArray(" target=\"_blank\"");
}

void TestBanner::bannerLinkOpensInTheDesktopBrowser()
{
    QFETCH(QByteArray, target);
    PageServer server;
    server.titled(QStringLiteral("/elsewhere"), QStringLiteral("Elsewhere"));
    server.page(QStringLiteral("/banner"),
                "<!DOCTYPE html><html><head><title>Banner</title></head><body style=\"margin:0\">"
                "<a href=\"/elsewhere\""
                    + target
                    + " style=\"display:block;width:468px;height:60px;background:#369\">go</a>"
                      "</body></html>");
    OpenedUrls opened(QStringLiteral("http"));
    TBanner banner(nullptr, server.url(QStringLiteral("/banner")));
    QSignalSpy completed(banner.Browser(), &WebBrowser::DocumentComplete);
    banner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&banner));
    QVERIFY(completed.wait(10000));

    QVERIFY(clickUntil(banner.Browser(), Qt::LeftButton, [&opened] { return !opened.urls.isEmpty(); }));
    QTest::qWait(200);
    QCOMPARE(opened.urls, QList<QUrl>{QUrl(server.url(QStringLiteral("/elsewhere")))});
    QCOMPARE(banner.Browser()->LocationURL(), server.url(QStringLiteral("/banner")));
    QCOMPARE(server.hits(QStringLiteral("/elsewhere")), 0);
}

// The shipped banner's link leads where the link button leads: the about page while
// no home page is set.
void TestBanner::shippedBannerLinksToTheAboutPage()
{
    OpenedUrls opened(QStringLiteral("qrc"));
    QWidget manager;
    manager.resize(600, 200);
    auto *banner = new TBanner(&manager);
    QSignalSpy completed(banner->Browser(), &WebBrowser::DocumentComplete);
    manager.show();
    QVERIFY(QTest::qWaitForWindowExposed(&manager));
    QVERIFY(completed.wait(10000));
    QVERIFY(clickUntil(banner->Browser(), Qt::LeftButton,
                       [&manager] { return manager.findChild<TAboutForm *>() != nullptr; }));
    TAboutForm *about = manager.findChild<TAboutForm *>();
    QVERIFY(about->isVisible());
    QVERIFY(opened.urls.isEmpty());
    QCOMPARE(banner->Browser()->LocationURL(), BannerPageUrl());
}

void TestBanner::linkButtonOpensTheHomePageEachClick()
{
    const QString home = QStringLiteral("http://127.0.0.1:9/home");
    SetHomePageSetting(home);
    OpenedUrls opened(QStringLiteral("http"));
    TLinkButton button;
    QCOMPARE(button.text(), QStringLiteral("Win服务器交流"));
    QCOMPARE(button.objectName(), QStringLiteral("sBitBtn1"));
    QCOMPARE(button.size(), QSize(131, 25));
    QVERIFY(!button.icon().isNull());
    MessageBoxAnswers driver;
    button.click();
    button.click();
    QCOMPARE(opened.urls, (QList<QUrl>{QUrl(home), QUrl(home)}));
    QCOMPARE(driver.boxes.size(), 0);
    QVERIFY(!button.findChild<TAboutForm *>());
}

void TestBanner::linkButtonOpensTheAboutPageWhileNoneIsSet()
{
    OpenedUrls http(QStringLiteral("http"));
    OpenedUrls https(QStringLiteral("https"));
    QWidget manager;
    auto *button = new TLinkButton(&manager);
    manager.show();
    MessageBoxAnswers driver;
    button->click();
    button->click(); // one page, raised again
    QCOMPARE(manager.findChildren<TAboutForm *>().size(), 1);
    TAboutForm *about = manager.findChild<TAboutForm *>();
    QVERIFY(about->isVisible());
    QCOMPARE(about->windowTitle(), QStringLiteral("关于 Brennic"));
    // It tells where the address is set: the settings in the configuration folder.
    const QString text = about->Page()->toPlainText();
    QVERIFY2(text.contains(SettingsFilePath()), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("HomePage=")));
    QVERIFY(SettingsFilePath().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/brennic/")));
    // It says where the servers really are, that the passwords are only encoded,
    // and the build's version.
    QVERIFY2(text.contains(ServerListFilePath()), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("这不是加密")) && !text.contains(QStringLiteral("加密保存")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("Brennic " BRENNIC_VERSION)), qPrintable(text));
    QVERIFY(http.urls.isEmpty() && https.urls.isEmpty());
    QCOMPARE(driver.boxes.size(), 0);
    about->close(); // goes by itself
    QTRY_VERIFY(!manager.findChild<TAboutForm *>());
}

// The pages that ship with the program name no web address of ours.
void TestBanner::noBuiltInAddressOfOurs()
{
    for (const QString &page : {DefaultPageUrl(), BannerPageUrl(), AboutPageUrl()}) {
        QFile file(QStringLiteral(":") + QUrl(page).path());
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(page));
        const QByteArray html = file.readAll();
        static const QRegularExpression address(QStringLiteral("(https?://|www\\.)[A-Za-z0-9-]+\\.[A-Za-z]"));
        QVERIFY2(!QString::fromUtf8(html).contains(address), qPrintable(page));
    }
}

void TestBanner::linkButtonReportsAFailure()
{
    // This process has no browser to start (its PATH is empty, and offscreen has no
    // desktop), so opening fails.
    const QString home = QStringLiteral("http://127.0.0.1:9/home");
    SetHomePageSetting(home);
    InstallErrorMessageBoxes();
    QWidget manager;
    TLinkButton *button = new TLinkButton(&manager);
    manager.show();
    MessageBoxAnswers driver;
    button->click();
    QCOMPARE(driver.boxes.size(), 1);
    const MessageBoxAnswers::Box &box = driver.boxes.first();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.title, AppTitle());
    QVERIFY2(box.text.contains(home), qPrintable(box.text));
    QVERIFY(manager.isVisible());
    QCOMPARE(button->parentWidget(), &manager);
    SetAppErrorPresenter({});
}

int main(int argc, char *argv[])
{
    // No browser may be started from here: nothing on the PATH, no browser variables.
    static QTemporaryDir emptyPath;
    qputenv("PATH", emptyPath.path().toLocal8Bit());
    qunsetenv("BROWSER");
    qunsetenv("DEFAULT_BROWSER");
    UsePrivateRuntimeDir();
    UsePrivateConfigDir();
    WebEngineArguments engine = PrepareWebEngine(argc, argv);
    QApplication app(engine.Count(), engine.Values());
    TestBanner test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_banner.moc"
