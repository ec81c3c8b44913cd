// Saves a picture of the main window with a few browser tabs, for the screenshot
// script: tab_strip_shot <file.png> [strip.png]
// Tabs: the manager's (no close button), the default page, the about page, a tab
// whose page is still loading (from a loopback server that never answers), a blank
// one, and "+" (no close button). The second file, when given, holds the tab strip alone.
#include "Main.h"
#include "ShellPages.h"
#include "Translations.h"
#include "WebBrowser.h"
#include "WebEngineSetup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTabBar>
#include <QTabWidget>
#include <QTcpServer>
#include <QTest>
#include <cstdio>

namespace {

void Wait(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Picks "+" as the user does, and loads the address into the new tab.
void OpenTab(QTabWidget *tabs, const QString &url)
{
    QTabBar *bar = tabs->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(tabs->count() - 1).center());
    Wait(350); // no double press
    if (auto *browser = tabs->currentWidget()->findChild<WebBrowser *>(); browser && !url.isEmpty())
        browser->Navigate(url);
}

} // namespace

int main(int argc, char *argv[])
{
    WebEngineArguments arguments = PrepareWebEngine(argc, argv);
    QApplication app(arguments.Count(), arguments.Values());
    InstallTranslations(&app);
    if (argc < 2) {
        std::fprintf(stderr, "usage: tab_strip_shot <file.png> [strip.png]\n");
        return 2;
    }
    QTcpServer silent; // accepts and never answers: its page keeps loading
    if (!silent.listen(QHostAddress::LocalHost, 0))
        return 1;
    int result = 1;
    {
        TFormMain window;
        QLabel manager(QStringLiteral("服务器管理器"));
        window.SetManager(&manager);
        window.show();
        auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("PageControlMain"));
        Wait(2000);
        OpenTab(tabs, AboutPageUrl());
        OpenTab(tabs, QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort()));
        OpenTab(tabs, QString());
        QTabBar *bar = tabs->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
        Wait(3000);
        const QPixmap picture = window.grab();
        bool saved = picture.save(QString::fromLocal8Bit(argv[1]));
        if (argc > 2) {
            const int stripBottom = bar->mapTo(&window, QPoint(0, bar->height())).y();
            saved = saved && window.grab(QRect(0, 0, window.width(), stripBottom)).save(QString::fromLocal8Bit(argv[2]));
        }
        result = saved ? 0 : 1;
    }
    return result;
}
