#include "RdpReconnectPanel.h"

#include "RdpReconnect.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

RdpReconnectPanel::RdpReconnectPanel(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("reconnectPanel"));
    auto *box = new QWidget(this);
    box->setObjectName(QStringLiteral("reconnectBox"));
    box->setAutoFillBackground(true);
    label_ = new QLabel(box);
    label_->setAlignment(Qt::AlignCenter);
    giveUp_ = new QPushButton(QStringLiteral("放弃重新连接"), box);
    giveUp_->setObjectName(QStringLiteral("reconnectGiveUp"));
    // The keyboard stays with the session; the button is for the mouse.
    giveUp_->setFocusPolicy(Qt::NoFocus);
    auto *inner = new QVBoxLayout(box);
    inner->setContentsMargins(24, 16, 24, 16);
    inner->setSpacing(12);
    inner->addWidget(label_);
    inner->addWidget(giveUp_, 0, Qt::AlignHCenter);
    auto *outer = new QVBoxLayout(this);
    outer->addStretch();
    outer->addWidget(box, 0, Qt::AlignCenter);
    outer->addStretch();
    connect(giveUp_, &QPushButton::clicked, this, &RdpReconnectPanel::GiveUp);
    parent->installEventFilter(this);
    setGeometry(parent->rect());
    hide();
}

void RdpReconnectPanel::ShowAttempt(int attempt, int tries)
{
    label_->setText(RdpReconnectingText(attempt, tries));
    setGeometry(parentWidget()->rect());
    show();
    raise();
}

QString RdpReconnectPanel::Text() const
{
    return label_->text();
}

bool RdpReconnectPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void RdpReconnectPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, 110));
}
