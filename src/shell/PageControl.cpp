#include "PageControl.h"

#include <QMouseEvent>

void TTabBar::mousePressEvent(QMouseEvent *event)
{
    QTabBar::mousePressEvent(event);
    emit MouseDown(event->button());
}

TPageControl::TPageControl(QWidget *parent) : QTabWidget(parent), bar_(new TTabBar(this))
{
    setTabBar(bar_);
}
