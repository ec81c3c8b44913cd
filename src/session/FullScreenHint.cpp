#include "FullScreenHint.h"

#include <QEvent>

TFullScreenHint::TFullScreenHint(QWidget *parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("lblFullScreenHint"));
    setText(QStringLiteral("按 Ctrl+Alt+Enter 退出全屏"));
    setAlignment(Qt::AlignCenter);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setStyleSheet(QStringLiteral("QLabel { background: rgba(30, 30, 30, 215); color: white;"
                                 " border-radius: 6px; padding: 10px 18px; font-size: 15px; }"));
    hide();
    hide_.setSingleShot(true);
    hide_.setInterval(ShownMs);
    connect(&hide_, &QTimer::timeout, this, &QWidget::hide);
    // The window grows to the screen after the hint has shown: it follows.
    if (parent)
        parent->installEventFilter(this);
}

bool TFullScreenHint::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize && isVisible())
        Place();
    return QLabel::eventFilter(watched, event);
}

void TFullScreenHint::Popup()
{
    Place();
    show();
    raise();
    hide_.start();
}

void TFullScreenHint::Dismiss()
{
    hide_.stop();
    hide();
}

void TFullScreenHint::Place()
{
    adjustSize();
    const QWidget *area = parentWidget();
    const int x = area ? (area->width() - width()) / 2 : 0;
    move(qMax(0, x), 24);
}
