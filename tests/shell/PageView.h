#pragma once

#include "WebBrowser.h"

#include <QWebEngineView>

// The engine's view of a web control: null while the control waits for its page.
// Found as the control's child, so that a test needs no type of the web module's.
inline QWebEngineView *PageView(WebBrowser *browser)
{
    return browser ? browser->findChild<QWebEngineView *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}
