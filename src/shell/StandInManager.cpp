#include "StandInManager.h"

#include "AppError.h"
#include "RdpCommon.h"

#include <QFrame>
#include <QListWidget>
#include <QShowEvent>
#include <QVBoxLayout>

TStandInManager::TStandInManager(QWidget *parent)
    : QWidget(parent, Qt::Window), pnlTop(new QFrame(this)), lvSvr(new QListWidget(this))
{
    setObjectName(QStringLiteral("frmMgmt"));
    setWindowTitle(QStringLiteral("Kestrune 1.3 "));
    pnlTop->setObjectName(QStringLiteral("pnlTop"));
    pnlTop->setFixedHeight(116);
    lvSvr->setObjectName(QStringLiteral("lvSvr"));
    lvSvr->setUniformItemSizes(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(pnlTop);
    layout->addWidget(lvSvr);
}

void TStandInManager::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (loaded_ || event->spontaneous())
        return;
    loaded_ = true;
    Guard([&] { FillList(); });
}

void TStandInManager::FillList()
{
    LoadGroups();
    LoadServers();
    QStringList rows;
    rows.reserve(GetSvrList().Count());
    for (const auto &server : GetSvrList())
        rows << QStringLiteral("[%1]  %2:%3  %4")
                    .arg(server->Group.GroupName, server->ClntSett.Server)
                    .arg(server->ClntSett.Port)
                    .arg(server->Description);
    lvSvr->addItems(rows);
    emit ListFilled(lvSvr->count());
}
