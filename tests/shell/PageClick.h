#pragma once

#include "WebBrowser.h"
#include "PageView.h"

#include <QTest>
#include <QWebEngineView>
#include <functional>

// Clicks into the control (its middle, or the point given) until the page reacts:
// Chromium drops input that comes before its first frame. Bounded in count and time.
inline bool ClickPageUntil(WebBrowser *browser, Qt::MouseButton button, const std::function<bool()> &done,
                           QPoint at = QPoint())
{
    QWidget *target = PageView(browser)->focusProxy();
    if (!target)
        return false;
    for (int attempt = 0; attempt < 30 && !done(); ++attempt) {
        QTest::mouseClick(target, button, {}, at.isNull() ? target->rect().center() : at);
        for (int wait = 0; wait < 15 && !done(); ++wait)
            QTest::qWait(20);
    }
    return done();
}
