#include "ManagerHost.h"

#include "Banner.h"
#include "LinkButton.h"
#include "StandInManager.h"

#include <QDialog>
#include <QFrame>

std::unique_ptr<QWidget> CreateManagerWindow()
{
    // The place of the manager window until it is built.
    auto manager = std::make_unique<TStandInManager>();
    PlaceBannerAndLink(manager->TopPanel());
    return manager;
}

std::unique_ptr<QWidget> CreateGroupNameWindow()
{
    auto dialog = std::make_unique<QDialog>();
    dialog->setObjectName(QStringLiteral("frmGrpName"));
    return dialog;
}

void PlaceBannerAndLink(QWidget *pnlTop)
{
    auto *banner = new TBanner(pnlTop);
    banner->move(24, 11);
    auto *link = new TLinkButton(pnlTop);
    link->move(494, 85);
}
