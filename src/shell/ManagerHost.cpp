#include "ManagerHost.h"

#include "Banner.h"
#include "LinkButton.h"

#ifdef BRENNIC_HAVE_MANAGER
#include "GrpForm.h"
#include "MgmtForm.h"
#else
#include "StandInManager.h"
#include <QDialog>
#include <QFrame>
#endif

#ifdef BRENNIC_HAVE_MANAGER

std::unique_ptr<QWidget> CreateManagerWindow()
{
    auto manager = std::make_unique<TfrmMgmt>();
    manager->SetBanner(new TBanner);
    manager->SetLinkButton(new TLinkButton);
    return manager;
}

std::unique_ptr<QWidget> CreateGroupNameWindow()
{
    return std::make_unique<TfrmGrpName>(nullptr);
}

#else

// Holds the manager's place while the program is built without it.
std::unique_ptr<QWidget> CreateManagerWindow()
{
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

#endif

void PlaceBannerAndLink(QWidget *pnlTop)
{
    auto *banner = new TBanner(pnlTop);
    banner->move(24, 11);
    banner->show();
    auto *link = new TLinkButton(pnlTop);
    link->move(494, 85);
    link->show();
}
