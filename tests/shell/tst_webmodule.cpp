// The program when its web engine module cannot be loaded: the main window and
// the manager start as ever, each page's place says why, and one box with the
// error icon and the program's title tells the user. The engine is never mapped.

#include "AppError.h"
#include "Main.h"
#include "ManagerHost.h"
#include "MsgBox.h"
#include "PageControl.h"
#include "RdpCommon.h"
#include "WebEngineSetup.h"
#include "WebModuleLoader.h"
#include "WebPageUnavailable.h"
#include "WebTestMain.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The folder the module is looked for in: empty, or holding a file of its name that is no module.
QTemporaryDir &ModuleFolder()
{
    static QTemporaryDir folder;
    return folder;
}

bool EngineMapped()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return !maps.open(QIODevice::ReadOnly) || maps.readAll().contains("libQt6WebEngine");
}

} // namespace

class TestWebModule : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void windowStartsWithoutPages();
    void pagePlaceSaysWhy_data();
    void pagePlaceSaysWhy();

private:
    QList<MessageBoxContent> boxes_;
    QTemporaryDir dir_;
};

void TestWebModule::initTestCase()
{
    SetMessageBoxAnswerer([this](const MessageBoxContent &box) {
        boxes_.append(box);
        return QMessageBox::Ok;
    });
    InstallErrorMessageBoxes();
    const QString file = dir_.filePath(QStringLiteral("SvrList.ini"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("[MISC]\nMaxGroupID=1\nMaxServerId=1\n[GroupItem1]\nGroupName=G\n"
              "[ServerItem1]\nGroupId=1\nServer=127.0.0.1\nUser=u\nPassword=\nDescription=first\n");
    out.close();
    UseIniFile(file);
}

void TestWebModule::cleanupTestCase()
{
    ReleaseCatalogue();
    SetMessageBoxAnswerer({});
}

void TestWebModule::windowStartsWithoutPages()
{
    HoldWebPages();
    {
        TFormMain window;
        const std::unique_ptr<QWidget> manager = CreateManagerWindow();
        window.SetManager(manager.get());
        ReleaseWebPagesOncePainted(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_COMPARE(boxes_.size(), 1);
        QCOMPARE(boxes_.front().icon, QMessageBox::Critical);
        QCOMPARE(boxes_.front().title, AppTitle());
        QVERIFY2(boxes_.front().text.contains(QStringLiteral("无法加载网页组件")), qPrintable(boxes_.front().text));
        QVERIFY2(boxes_.front().text.contains(WebModuleFileName()), qPrintable(boxes_.front().text));

        // The manager keeps its tab; the default page's tab holds the stand-in, which says why.
        auto *tabs = window.findChild<TPageControl *>(QStringLiteral("PageControlMain"));
        QVERIFY(tabs);
        QVERIFY(tabs->widget(0)->isAncestorOf(manager.get()));
        auto *page = qobject_cast<WebPageUnavailable *>(tabs->widget(1)->findChild<WebBrowser *>());
        QVERIFY(page);
        auto *why = page->findChild<QLabel *>(QStringLiteral("lblUnavailable"));
        QVERIFY(why);
        QVERIFY2(why->text().contains(WebModuleFileName()), qPrintable(why->text()));
        QVERIFY(!page->LocationURL().isEmpty()); // the default page's address, kept
    }
    QTest::qWait(50);
    QCOMPARE(boxes_.size(), 1); // told once, not once per page
    QVERIFY(!EngineMapped());
}

void TestWebModule::pagePlaceSaysWhy_data()
{
    QTest::addColumn<QByteArray>("module"); // the file put where the module is looked for; empty: none
    QTest::addColumn<QString>("why");       // what the dynamic loader says
    QTest::newRow("missing") << QByteArray() << QStringLiteral("No such file");
    QTest::newRow("not a library") << QByteArray(4096, '#') << QStringLiteral("invalid ELF header");
}

void TestWebModule::pagePlaceSaysWhy()
{
    QFETCH(QByteArray, module);
    QFETCH(QString, why);
    const QString path = ModuleFolder().filePath(WebModuleFileName());
    QFile::remove(path);
    if (!module.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(module);
    }
    SetWebModuleFolders({ModuleFolder().path()});
    QString error;
    QVERIFY(!LoadWebModule(&error));
    QVERIFY2(error.contains(WebModuleFileName()) && error.contains(why), qPrintable(error));

    QWidget host;
    WebBrowser *browser = CreateWebBrowser(&host);
    QVERIFY(qobject_cast<WebPageUnavailable *>(browser));
    QVERIFY(browser->findChild<QLabel *>()->text().contains(why));
    browser->Navigate(QStringLiteral("http://127.0.0.1:1/x"));
    QCOMPARE(browser->LocationURL(), QStringLiteral("http://127.0.0.1:1/x"));
    QVERIFY(!browser->Busy());
    QVERIFY_THROWS_EXCEPTION(AppError, browser->GoBack());
    QVERIFY_THROWS_EXCEPTION(AppError, browser->GoForward());
    QVERIFY(!EngineMapped());
}

int main(int argc, char *argv[])
{
    UsePrivateRuntimeDir();
    UsePrivateConfigDir();
    SetWebModuleFolders({ModuleFolder().path()});
    WebEngineArguments engine = PrepareWebEngine(argc, argv);
    QApplication app(engine.Count(), engine.Values());
    TestWebModule test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_webmodule.moc"
