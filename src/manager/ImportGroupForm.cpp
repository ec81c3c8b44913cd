#include "ImportGroupForm.h"

#include "DialogSeam.h"

#include "DialogParts.h"
#include "MsgBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TfrmImportGroup::TfrmImportGroup(QWidget *owner, const TImportOffer &offer) : QDialog(owner)
{
    SetDialogFrame(this, "frmImportGroup", QStringLiteral("导入"));

    lblFound = new QLabel(offer.Found, this);
    lblFound->setObjectName(QStringLiteral("lblFound"));
    lblFound->setTextFormat(Qt::PlainText);
    chkKeepGroups = new QCheckBox(QStringLiteral("保留文件中的分组，分组以外的服务器放入下面的组(&K)"), this);
    chkKeepGroups->setObjectName(QStringLiteral("chkKeepGroups"));
    chkKeepGroups->setChecked(offer.FileGroups);
    chkKeepGroups->setVisible(offer.FileGroups);
    auto *lblTarget = new QLabel(QStringLiteral("导入到组（可输入新组名）(&G):"), this);
    cbbTarget = new QComboBox(this);
    cbbTarget->setObjectName(QStringLiteral("cbbTarget"));
    cbbTarget->setEditable(true);
    cbbTarget->setInsertPolicy(QComboBox::NoInsert);
    cbbTarget->addItems(offer.Groups);
    cbbTarget->setMinimumContentsLength(24);
    cbbTarget->lineEdit()->installEventFilter(this);
    lblTarget->setBuddy(cbbTarget);
    lblMaster = new QLabel(QStringLiteral("有 %1 个密码用 mRemoteNG 的自定义主密码加密。输入该主密码可一并导入密码，"
                                          "留空则不导入这些密码(&M):")
                               .arg(offer.Sealed),
                           this);
    lblMaster->setObjectName(QStringLiteral("lblMaster"));
    lblMaster->setWordWrap(true);
    edtMaster = new QLineEdit(this);
    edtMaster->setObjectName(QStringLiteral("edtMaster"));
    edtMaster->setEchoMode(QLineEdit::Password);
    lblMaster->setBuddy(edtMaster);
    lblMaster->setVisible(offer.Sealed > 0);
    edtMaster->setVisible(offer.Sealed > 0);
    btnBox = MakeDialogButtons(this, QStringLiteral("导入"));
    btnBox->button(QDialogButtonBox::Ok)->setDefault(true);

    auto *column = new QVBoxLayout(this);
    column->addWidget(lblFound);
    column->addWidget(chkKeepGroups);
    column->addWidget(lblTarget);
    column->addWidget(cbbTarget);
    column->addWidget(lblMaster);
    column->addWidget(edtMaster);
    column->addWidget(btnBox);
    cbbTarget->setFocus();
}

bool TfrmImportGroup::eventFilter(QObject *watched, QEvent *event)
{
    // The editable combo takes the first Return for itself (to complete or insert
    // the text); here the text typed is the answer, so Return confirms.
    if (watched == cbbTarget->lineEdit() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmImportGroup::done(int result)
{
    if (result == QDialog::Accepted && cbbTarget->currentText().trimmed().isEmpty()) {
        ShowMessageBox(this, QStringLiteral("请输入组名"));
        cbbTarget->setFocus();
        return;
    }
    QDialog::done(result);
}

bool AskImportGroup(QWidget *owner, const TImportOffer &offer, TImportChoice &choice)
{
    TfrmImportGroup dialog(owner, offer);
    dialog.cbbTarget->setCurrentText(choice.Group);
    dialog.cbbTarget->lineEdit()->selectAll();
    if (DialogSeam::Exec(dialog) != QDialog::Accepted)
        return false;
    choice.Group = dialog.cbbTarget->currentText().trimmed();
    choice.KeepFileGroups = dialog.chkKeepGroups->isChecked();
    choice.Master = dialog.edtMaster->text();
    return true;
}
