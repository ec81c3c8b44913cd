#include "QuickConnectForm.h"

#include "DialogSeam.h"

#include "HostPort.h"
#include "DialogParts.h"
#include "MsgBox.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TfrmQuickConnect::TfrmQuickConnect(QWidget *owner, const QString &address) : QDialog(owner)
{
    SetDialogFrame(this, "frmQuickConnect", QStringLiteral("快速连接"));

    lblServer = new QLabel(address, this);
    lblServer->setObjectName(QStringLiteral("lblServer"));
    lblServer->setTextFormat(Qt::PlainText);
    edtUser = new QLineEdit(this);
    edtUser->setObjectName(QStringLiteral("edtUser"));
    edtPwd = new QLineEdit(this);
    edtPwd->setObjectName(QStringLiteral("edtPwd"));
    edtPwd->setEchoMode(QLineEdit::Password);
    chkAdd = new QCheckBox(QStringLiteral("添加到服务器列表(&L)"), this);
    chkAdd->setObjectName(QStringLiteral("chkAdd"));
    btnBox = MakeDialogButtons(this, QStringLiteral("连接"));

    auto *form = new QFormLayout(this);
    form->addRow(QStringLiteral("服务器:"), lblServer);
    form->addRow(QStringLiteral("用户名:"), edtUser);
    form->addRow(QStringLiteral("密码:"), edtPwd);
    form->addRow(chkAdd);
    form->addRow(btnBox);
    edtUser->setFocus();
}

void TfrmQuickConnect::done(int result)
{
    if (result == QDialog::Accepted) {
        if (edtUser->text().trimmed().isEmpty()) {
            ShowMessageBox(this, QStringLiteral("请输入用户名"));
            edtUser->setFocus();
            return;
        }
        if (edtPwd->text().trimmed().isEmpty()) {
            ShowMessageBox(this, QStringLiteral("请输入密码"));
            edtPwd->setFocus();
            return;
        }
    }
    QDialog::done(result);
}

bool AskQuickConnect(QWidget *owner, TClientSettings &settings, bool &add)
{
    TfrmQuickConnect dialog(owner, FormatHostPort(settings.Server, settings.Port, TClientSettings{}.Port));
    if (DialogSeam::Exec(dialog) != QDialog::Accepted)
        return false;
    settings.User = dialog.edtUser->text();
    settings.Password = dialog.edtPwd->text();
    add = dialog.chkAdd->isChecked();
    return true;
}
