#include "ProbeNotice.h"

#include "ProgramSettings.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QToolButton>

namespace {

const QString SilencedKey = QStringLiteral("Notices/ProbeFallbackSilenced");

} // namespace

TProbeNotice::TProbeNotice(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("pnlProbeNotice"));
    setFrameShape(QFrame::StyledPanel);
    setStyleSheet(QStringLiteral("#pnlProbeNotice { background: #e8f1fb; border: 1px solid #8db4e2; border-radius: 3px; }"));
    auto *icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(16, 16));
    lblNotice = new QLabel(this);
    lblNotice->setObjectName(QStringLiteral("lblProbeNotice"));
    lblNotice->setTextFormat(Qt::PlainText);
    lblNotice->setWordWrap(true);
    lblNotice->setTextInteractionFlags(Qt::TextSelectableByMouse); // the command can be copied
    btnNeverAgain = new QToolButton(this);
    btnNeverAgain->setObjectName(QStringLiteral("btnProbeNoticeNeverAgain"));
    btnNeverAgain->setText(QStringLiteral("不再显示"));
    btnClose = new QToolButton(this);
    btnClose->setObjectName(QStringLiteral("btnProbeNoticeClose"));
    btnClose->setAutoRaise(true);
    btnClose->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    btnClose->setToolTip(QStringLiteral("关闭"));

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(6, 4, 4, 4);
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(lblNotice, 1);
    row->addWidget(btnNeverAgain, 0, Qt::AlignTop);
    row->addWidget(btnClose, 0, Qt::AlignTop);
    connect(btnClose, &QToolButton::clicked, this, &QWidget::hide);
    connect(btnNeverAgain, &QToolButton::clicked, this, [this] { btnNeverAgainClick(); });
    hide();
}

void TProbeNotice::ShowNotice(const QString &text)
{
    lblNotice->setText(text);
    setVisible(!text.isEmpty() && !Silenced());
}

bool TProbeNotice::Silenced()
{
    return ProgramSettings().value(SilencedKey).toBool();
}

void TProbeNotice::SetSilenced(bool silenced)
{
    QSettings settings = ProgramSettings();
    if (silenced)
        settings.setValue(SilencedKey, true);
    else
        settings.remove(SilencedKey);
}

void TProbeNotice::btnNeverAgainClick()
{
    SetSilenced(true);
    hide();
}
