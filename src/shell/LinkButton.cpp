#include "LinkButton.h"

#include "AppError.h"
#include "AboutForm.h"

#include <QStyle>

TLinkButton::TLinkButton(QWidget *parent) : QPushButton(QStringLiteral("Win服务器交流"), parent)
{
    setIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));
    setObjectName(QStringLiteral("sBitBtn1"));
    setFixedSize(131, 25);
    connect(this, &QPushButton::clicked, this, [this] { sBitBtn1Click(); });
}

void TLinkButton::sBitBtn1Click()
{
    Guard([this] { OpenHomePage(this); });
}
