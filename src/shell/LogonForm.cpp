#include "LogonForm.h"

TfrmLogon::TfrmLogon(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmLogon"));
    setWindowTitle(QStringLiteral("登陆信息"));
}
