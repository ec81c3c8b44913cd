#include "GrpForm.h"

#include "DialogSeam.h"

#include "CatalogueLimits.h"
#include "DialogLook.h"

#include <QLineEdit>
#include <QPushButton>

TfrmGrpName::TfrmGrpName(QWidget *owner) : QDialog(owner)
{
    SetDialogLook(this, "frmGrpName", QStringLiteral("编辑"), QStringLiteral("Tahoma"), 140, 64);

    edtGrp = new QLineEdit(this);
    edtGrp->setObjectName(QStringLiteral("edtGrp"));
    edtGrp->setGeometry(8, 8, 121, 21);
    edtGrp->setMaxLength(CatalogueTextLimit);

    btnOK = new QPushButton(QStringLiteral("确定"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(55, 35, 75, 25);
    btnOK->setDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

    setTabOrder(edtGrp, btnOK);
    edtGrp->setFocus();
}

bool AskGroupName(QWidget *owner, QString &name)
{
    TfrmGrpName dialog(owner);
    dialog.edtGrp->setText(name);
    dialog.edtGrp->selectAll();
    if (DialogSeam::Exec(dialog) != QDialog::Accepted)
        return false;
    name = dialog.edtGrp->text();
    return true;
}
