#include "PageControl.h"

#include <QMouseEvent>
#include <QWheelEvent>

void TTabBar::mousePressEvent(QMouseEvent *event)
{
    QTabBar::mousePressEvent(event);
    emit MouseDown(event->button());
    if (event->button() == Qt::MiddleButton)
        if (const int index = tabAt(event->position().toPoint()); index >= 0)
            emit MiddleClicked(index);
}

// The toolkit's wheel picks the next enabled tab: the last one is disabled for the
// turn of the wheel, unless it is the current one.
void TTabBar::wheelEvent(QWheelEvent *event)
{
    const int last = count() - 1;
    const bool skip = WheelSkipsLastTab && last >= 0 && last != currentIndex() && isTabEnabled(last);
    if (skip)
        setTabEnabled(last, false);
    QTabBar::wheelEvent(event);
    if (skip)
        setTabEnabled(last, true);
}

TPageControl::TPageControl(QWidget *parent) : QTabWidget(parent), bar_(new TTabBar(this))
{
    setTabBar(bar_);
}
