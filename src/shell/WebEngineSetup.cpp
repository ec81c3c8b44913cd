#include "WebEngineSetup.h"

#include <QCoreApplication>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QtGlobal>
#include <unistd.h>

namespace {

constexpr char kXcbGl[] = "QT_XCB_GL_INTEGRATION";
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

} // namespace

void PrepareWebEngine()
{
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (!qEnvironmentVariableIsSet(kXcbGl)) {
        qputenv(kXcbGl, "none");
        xcbGlSetHere = true;
        qAddPreRoutine(RestoreOnceRunning);
    }
}

