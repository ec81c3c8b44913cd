#include "EditForm.h"

#include "DialogSeam.h"

#include "AppError.h"
#include "CatalogueLimits.h"
#include "DialogLook.h"
#include "MsgBox.h"
#include "RdpConst.h"
#include "ServerAddress.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabBar>
#include <QScopeGuard>
#include <QTimer>

namespace {

template <class W>
W *make(QWidget *parent, const char *name, int x, int y, int w = -1, int h = -1)
{
    auto *widget = new W(parent);
    widget->setObjectName(QLatin1String(name));
    widget->move(x, y);
    if (w > 0)
        widget->resize(w, h > 0 ? h : widget->sizeHint().height());
    return widget;
}

QLabel *label(QWidget *parent, const char *name, const QString &text, int x, int y)
{
    auto *l = make<QLabel>(parent, name, x, y);
    l->setText(text);
    l->adjustSize();
    return l;
}

std::optional<int> wholeNumber(const QLineEdit *field)
{
    bool ok = false;
    const int value = field->text().toInt(&ok, 10);
    return ok ? std::optional<int>(value) : std::nullopt;
}

} // namespace

TfrmEdit::TfrmEdit(QWidget *owner) : QDialog(owner)
{
    SetDialogLook(this, "frmEdit", QStringLiteral("添加"), QStringLiteral("MS Sans Serif"), 290, 304);

    tbcSett = make<QTabBar>(this, "tbcSett", 8, 0);
    tbcSett->addTab(QStringLiteral("登陆"));
    tbcSett->addTab(QStringLiteral("显示"));
    tbcSett->setExpanding(false);
    tbcSett->setDrawBase(true);
    tbcSett->resize(273, 265);

    grpConn = make<QGroupBox>(tbcSett, "grpConn", 3, 24, 267, 153);
    grpConn->setTitle(QStringLiteral("连接信息"));
    grpDisp = make<QGroupBox>(tbcSett, "grpDisp", 3, 24, 267, 153);
    grpDisp->setTitle(QStringLiteral("设置"));
    grpDisp->lower();
    lblDesc = label(tbcSett, "lblDesc", QStringLiteral("备注:"), 19, 176);
    edtDesc = make<QLineEdit>(tbcSett, "edtDesc", 21, 195, 231);

    lblServer = label(grpConn, "lblServer", QStringLiteral("服务器IP/网址:"), 18, 15);
    edtSvr = make<QLineEdit>(grpConn, "edtSvr", 18, 31, 153);
    lblPort = label(grpConn, "lblPort", QStringLiteral("端口:"), 200, 12);
    edtPort = make<QLineEdit>(grpConn, "edtPort", 200, 31, 49);
    edtPort->setText(QStringLiteral("3389"));
    lblUser = label(grpConn, "lblUser", QStringLiteral("用户名:"), 18, 58);
    edtUser = make<QLineEdit>(grpConn, "edtUser", 18, 77, 153);
    lblPwd = label(grpConn, "lblPwd", QStringLiteral("密码:"), 18, 104);
    edtPwd = make<QLineEdit>(grpConn, "edtPwd", 18, 123, 153);
    edtPwd->setEchoMode(QLineEdit::Password);

    lblWidth = label(grpDisp, "lblWidth", QStringLiteral("宽"), 16, 16);
    edtWidth = make<QLineEdit>(grpDisp, "edtWidth", 16, 32, 36);
    edtWidth->setText(QStringLiteral("1024"));
    lbl1 = label(grpDisp, "lbl1", QStringLiteral("X"), 58, 35);
    lblHeight = label(grpDisp, "lblHeight", QStringLiteral("高"), 100, 15);
    edtHeight = make<QLineEdit>(grpDisp, "edtHeight", 71, 32, 34);
    edtHeight->setText(QStringLiteral("768"));
    chkFullScr = make<QCheckBox>(grpDisp, "chkFullScr", 16, 59);
    chkFullScr->setText(QStringLiteral("全屏"));
    chkFullScr->adjustSize();
    lblColors = label(grpDisp, "lblColors", QStringLiteral("颜色"), 16, 92);
    cbbColors = make<QComboBox>(grpDisp, "cbbColors", 16, 106, 169);

    btnOK = make<QPushButton>(this, "btnOK", 121, 271, 75, 25);
    btnOK->setText(QStringLiteral("确定"));
    btnOK->setDefault(true);
    btnCancel = make<QPushButton>(this, "btnCancel", 207, 271, 75, 25);
    btnCancel->setText(QStringLiteral("取消"));
    // A focused button takes Enter: on "取消" Enter cancels; elsewhere it confirms.
    btnCancel->setAutoDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    // Digits only, however the text comes in: typed, pasted, dropped or
    // committed by an input method.
    for (QLineEdit *text : {edtSvr, edtUser, edtPwd, edtDesc})
        text->setMaxLength(CatalogueTextLimit);
    auto *digitsOnly = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    for (QLineEdit *digits : {edtWidth, edtHeight, edtPort})
        digits->setValidator(digitsOnly);
    connect(tbcSett, &QTabBar::currentChanged, this, [this] { Guard([&] { tbcSettChange(); }); });

    setTabOrder(tbcSett, edtSvr);
    setTabOrder(edtSvr, edtPort);
    setTabOrder(edtPort, edtUser);
    setTabOrder(edtUser, edtPwd);
    setTabOrder(edtPwd, edtWidth);
    setTabOrder(edtWidth, edtHeight);
    setTabOrder(edtHeight, chkFullScr);
    setTabOrder(chkFullScr, cbbColors);
    setTabOrder(cbbColors, edtDesc);
    setTabOrder(edtDesc, btnOK);
    setTabOrder(btnOK, btnCancel);

    tmrUpdate = new QTimer(this);
    tmrUpdate->setObjectName(QStringLiteral("tmrUpdate"));
    tmrUpdate->setInterval(10);
    connect(tmrUpdate, &QTimer::timeout, this, [this] { Guard([&] { tmrUpdateTimer(); }); });
    tmrUpdate->start();

    FormCreate();
    tbcSettChange();
    // The cursor starts in the address field, so nothing typed at once is lost.
    edtSvr->setFocus();
}

void TfrmEdit::FormCreate()
{
    cbbColors->clear();
    for (const QString &name : ColorDepthNames)
        cbbColors->addItem(name);
    cbbColors->setCurrentIndex(DefaultColorDepthIndex);
}

void TfrmEdit::tbcSettChange()
{
    grpConn->setVisible(tbcSett->currentIndex() == 0);
    grpDisp->setVisible(tbcSett->currentIndex() == 1);
}

void TfrmEdit::tmrUpdateTimer()
{
    const bool sized = !chkFullScr->isChecked();
    edtWidth->setEnabled(sized);
    edtHeight->setEnabled(sized);
}

bool TfrmEdit::refuse(const QString &message, int tab, QLineEdit *field)
{
    ShowMessageBox(this, message);
    tbcSett->setCurrentIndex(tab);
    tbcSettChange();
    field->setFocus();
    return false;
}

bool TfrmEdit::FormCloseQuery()
{
    if (edtSvr->text().trimmed().isEmpty())
        return refuse(QStringLiteral("服务器空,请添加"), 0, edtSvr);
    if (const QString problem = ServerFieldProblem(edtSvr->text()); !problem.isEmpty())
        return refuse(problem, 0, edtSvr);
    if (!wholeNumber(edtPort))
        return refuse(QStringLiteral("端口必须是整数"), 0, edtPort);
    if (const QString problem = PortProblem(*wholeNumber(edtPort)); !problem.isEmpty())
        return refuse(problem, 0, edtPort);
    if (!wholeNumber(edtWidth))
        return refuse(QStringLiteral("宽度必须是整数"), 1, edtWidth);
    if (!wholeNumber(edtHeight))
        return refuse(QStringLiteral("高度必须是整数"), 1, edtHeight);
    return true;
}

void TfrmEdit::done(int result)
{
    bool canClose = result != QDialog::Accepted;
    if (result == QDialog::Accepted)
        Guard([&] { canClose = FormCloseQuery() && save(); });
    if (canClose)
        QDialog::done(result);
}

void TfrmEdit::SetSaver(Saver saver, TClientSettings base)
{
    saver_ = std::move(saver);
    base_ = std::move(base);
}

TClientSettings TfrmEdit::TypedSettings() const
{
    TClientSettings settings = base_;
    settings.Server = edtSvr->text();
    settings.Port = wholeNumber(edtPort).value_or(settings.Port);
    settings.User = edtUser->text().trimmed();
    settings.Password = edtPwd->text();
    settings.Width = wholeNumber(edtWidth).value_or(settings.Width);
    settings.Height = wholeNumber(edtHeight).value_or(settings.Height);
    settings.FullScreen = chkFullScr->isChecked();
    // A depth the list does not offer stays as it was unless the user picks one.
    if (const int entry = cbbColors->currentIndex(); entry >= 0)
        settings.ColorDepth = ColorDepthValues[size_t(entry)];
    return settings;
}

bool TfrmEdit::save()
{
    if (!saver_)
        return true;
    btnOK->setEnabled(false);
    btnCancel->setEnabled(false);
    const QString waitingTitle = windowTitle();
    setWindowTitle(waitingTitle + QStringLiteral("（正在保存…）"));
    const auto restore = qScopeGuard([&] {
        setWindowTitle(waitingTitle);
        btnOK->setEnabled(true);
        btnCancel->setEnabled(true);
    });
    saver_(TypedSettings(), edtDesc->text());
    return true;
}

bool EditServerSettings(QWidget *owner, TClientSettings &settings, QString &description, const TfrmEdit::Saver &saver)
{
    TfrmEdit dialog(owner);
    if (!settings.Server.isEmpty()) {
        dialog.setWindowTitle(QStringLiteral("修改服务器设置"));
        dialog.edtSvr->setText(settings.Server);
        dialog.edtPort->setText(QString::number(settings.Port));
        dialog.edtUser->setText(settings.User);
        dialog.edtPwd->setText(settings.Password);
        dialog.edtWidth->setText(QString::number(settings.Width));
        dialog.edtHeight->setText(QString::number(settings.Height));
        dialog.chkFullScr->setChecked(settings.FullScreen);
        dialog.cbbColors->setCurrentIndex(IndexOfInt(settings.ColorDepth, ColorDepthValues));
        dialog.edtDesc->setText(description);
    }
    dialog.SetSaver(saver, settings);
    if (DialogSeam::Exec(dialog) != QDialog::Accepted)
        return false;
    settings = dialog.TypedSettings();
    description = dialog.edtDesc->text();
    return true;
}
