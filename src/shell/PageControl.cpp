#include "PageControl.h"

#include <QAbstractButton>
#include <QMouseEvent>
#include <QStyle>
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

namespace {

QTabBar::ButtonPosition CloseSide(const QTabBar *bar)
{
    return QTabBar::ButtonPosition(bar->style()->styleHint(QStyle::SH_TabBar_CloseButtonPosition, nullptr, bar));
}

} // namespace

QAbstractButton *TTabBar::CloseButton(int index) const
{
    return qobject_cast<QAbstractButton *>(tabButton(index, CloseSide(this)));
}

void TTabBar::RemoveCloseButton(int index)
{
    if (QWidget *button = tabButton(index, CloseSide(this))) {
        setTabButton(index, CloseSide(this), nullptr);
        button->deleteLater();
    }
}

TPageControl::TPageControl(QWidget *parent) : QTabWidget(parent), bar_(new TTabBar(this))
{
    setTabBar(bar_);
}
