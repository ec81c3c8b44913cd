#include "WebEngineSetup.h"

#include <QCoreApplication>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QStringList>
#include <QtGlobal>
#include <unistd.h>

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

// The switches the engine alone gets: the user's own, then the sandbox switch as root.
std::vector<QByteArray> EngineSwitches()
{
    std::vector<QByteArray> switches;
    if (qEnvironmentVariableIsSet(kChromiumFlags)) {
        const QStringList flags = qEnvironmentVariable(kChromiumFlags).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString &flag : flags)
            switches.push_back(flag.toLocal8Bit());
        qunsetenv(kChromiumFlags);
    }
    if (geteuid() == 0)
        switches.push_back("--no-sandbox");
    return switches;
}

} // namespace

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
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (!qEnvironmentVariableIsSet(kXcbGl)) {
        qputenv(kXcbGl, "none");
        xcbGlSetHere = true;
        qAddPreRoutine(RestoreOnceRunning);
    }
    return WebEngineArguments(argc, argv, EngineSwitches());
}
