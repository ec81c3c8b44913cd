#include "ImportGroupForm.h"

#include "DialogParts.h"
#include "MsgBox.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TfrmImportGroup::TfrmImportGroup(QWidget *owner, const QString &found, const QStringList &groups) : QDialog(owner)
{
    SetDialogFrame(this, "frmImportGroup", QStringLiteral("导入"));

    lblFound = new QLabel(found, this);
    lblFound->setObjectName(QStringLiteral("lblFound"));
    lblFound->setTextFormat(Qt::PlainText);
    auto *lblTarget = new QLabel(QStringLiteral("导入到组（可输入新组名）(&G):"), this);
    cbbTarget = new QComboBox(this);
    cbbTarget->setObjectName(QStringLiteral("cbbTarget"));
    cbbTarget->setEditable(true);
    cbbTarget->setInsertPolicy(QComboBox::NoInsert);
    cbbTarget->addItems(groups);
    cbbTarget->setMinimumContentsLength(24);
    lblTarget->setBuddy(cbbTarget);
    btnBox = MakeDialogButtons(this, QStringLiteral("导入"));

    auto *column = new QVBoxLayout(this);
    column->addWidget(lblFound);
    column->addWidget(lblTarget);
    column->addWidget(cbbTarget);
    column->addWidget(btnBox);
    cbbTarget->setFocus();
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

bool AskImportGroup(QWidget *owner, const QString &found, const QStringList &groups, QString &group)
{
    TfrmImportGroup dialog(owner, found, groups);
    dialog.cbbTarget->setCurrentText(group);
    dialog.cbbTarget->lineEdit()->selectAll();
    if (dialog.exec() != QDialog::Accepted)
        return false;
    group = dialog.cbbTarget->currentText().trimmed();
    return true;
}
