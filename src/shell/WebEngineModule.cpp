// The web engine module: Qt WebEngine (and with it Qt Quick, QML and Chromium's
// libraries) is loaded only by a process that makes the program's web pages.
#include "WebEngineBrowser.h"
#include "WebModule.h"

#include <QCoreApplication>
#include <QQuickWindow>
#include <QSGRendererInterface>

namespace {

// Pages are composed into the windows by Qt Quick's software renderer: the few
// small pages of this program do not need a GL context, which costs some 40 MB
// and half a second at start-up on machines without a GPU.
void Prepare()
{
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

WebBrowser *CreateBrowser(QWidget *parent)
{
    return new WebEngineBrowser(parent);
}

constexpr WebModule Module{Prepare, CreateBrowser, WebEngineBrowser::HoldPages, WebEngineBrowser::ReleasePages};

} // namespace

extern "C" Q_DECL_EXPORT const WebModule *BrennicWebModule(int interfaceVersion)
{
    return interfaceVersion == WebModuleInterfaceVersion ? &Module : nullptr;
}
