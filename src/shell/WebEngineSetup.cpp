#include "WebEngineSetup.h"

#include "AppError.h"
#include "WebModule.h"
#include "WebModuleLoader.h"
#include "WebPageUnavailable.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <QtGlobal>
#include <unistd.h>
#include <utility>

namespace {

constexpr char kXcbGl[] = "QT_XCB_GL_INTEGRATION";
constexpr char kChromiumFlags[] = "QTWEBENGINE_CHROMIUM_FLAGS";
bool xcbGlSetHere = false;

// The X connection chooses its GL integration while the application object is being
// built; on the first turn of the event loop the setting is taken back, so that
// nothing this program starts later (the desktop's browser, say) inherits it.
void RestoreXcbGlSetting()
{
    if (xcbGlSetHere)
        qunsetenv(kXcbGl);
    xcbGlSetHere = false;
}

void RestoreOnceRunning()
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), RestoreXcbGlSetting, Qt::QueuedConnection);
}

// The switches the engine alone gets: the user's own, then the process model, then
// the sandbox switches as root.
std::vector<QByteArray> EngineSwitches()
{
    std::vector<QByteArray> switches;
    if (qEnvironmentVariableIsSet(kChromiumFlags)) {
        const QStringList flags = qEnvironmentVariable(kChromiumFlags).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString &flag : flags)
            switches.push_back(flag.toLocal8Bit());
        qunsetenv(kChromiumFlags);
    }
    // One renderer per site rather than one per page: the program's own pages (the
    // banner and the default page) share one, while every other site keeps its own.
    switches.push_back("--process-per-site");
    if (geteuid() == 0) {
        switches.push_back("--no-sandbox");
        // Without the sandbox the zygotes only cost two processes, and starting them
        // holds up the GUI thread; renderers are then started directly.
        switches.push_back("--no-zygote");
    }
    return switches;
}

// Releases the held pages on the turn of the event loop after the window's first
// paint, once that paint has reached the screen.
class FirstPaintWatch : public QObject {
public:
    explicit FirstPaintWatch(QWidget *window) : QObject(window)
    {
        window->installEventFilter(this);
        QTimer::singleShot(LatestReleaseMs, this, [this] { Release(); });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == parent() && event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] { Release(); });
        }
        return false;
    }

private:
    static constexpr int LatestReleaseMs = 3000;

    void Release()
    {
        ReleaseWebPages();
        deleteLater();
    }
};

// Without the module the program works on without pages; its user is told why
// once, in a box over the window that would have shown them.
void TellPagesUnavailable(const QString &why)
{
    static bool told = false;
    if (std::exchange(told, true))
        return;
    QTimer::singleShot(0, QCoreApplication::instance(), [why] { PresentAppError(why); });
}

} // namespace

WebBrowser *CreateWebBrowser(QWidget *parent)
{
    QString why;
    if (const WebModule *module = LoadWebModule(&why))
        return module->CreateBrowser(parent);
    TellPagesUnavailable(why);
    return new WebPageUnavailable(why, parent);
}

void HoldWebPages()
{
    if (const WebModule *module = LoadWebModule(nullptr))
        module->HoldPages();
}

void ReleaseWebPages()
{
    if (const WebModule *module = LoadedWebModule())
        module->ReleasePages();
}

void ReleaseWebPagesOncePainted(QWidget *window)
{
    new FirstPaintWatch(window);
}

WebEngineArguments::WebEngineArguments(int argc, char **argv, const std::vector<QByteArray> &engineSwitches)
{
    for (int i = 0; i < argc; ++i)
        values_.emplace_back(argv[i]);
    if (!engineSwitches.empty()) {
        values_.emplace_back("--webEngineArgs");
        values_.insert(values_.end(), engineSwitches.begin(), engineSwitches.end());
    }
    for (QByteArray &value : values_)
        pointers_.push_back(value.data());
    pointers_.push_back(nullptr);
    count_ = int(values_.size());
}

WebEngineArguments PrepareWebEngine(int argc, char **argv)
{
    const WebModule *module = LoadWebModule(nullptr);
    if (module)
        module->Prepare();
    if (!qEnvironmentVariableIsSet(kXcbGl)) {
        qputenv(kXcbGl, "none");
        xcbGlSetHere = true;
        qAddPreRoutine(RestoreOnceRunning);
    }
    return WebEngineArguments(argc, argv, module ? EngineSwitches() : std::vector<QByteArray>());
}
