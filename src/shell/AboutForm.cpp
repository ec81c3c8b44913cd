#include "AboutForm.h"

#include "ExternalBrowser.h"
#include "RdpCommon.h"
#include "ShellPages.h"
#include "ShellSettings.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

QString AboutText()
{
    QFile file(QStringLiteral(":/pages/about.html"));
    const QString page = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    const QString serverList = CatalogueInDatabase() ? QStringLiteral("团队共享的数据库 %1").arg(ServerListFilePath())
                                                     : ServerListFilePath();
    return QString(page)
        .replace(QStringLiteral("{version}"), QStringLiteral(BRENNIC_VERSION))
        .replace(QStringLiteral("{serverlist}"), serverList.toHtmlEscaped())
        .replace(QStringLiteral("{settings}"), SettingsFilePath().toHtmlEscaped());
}

} // namespace

TAboutForm::TAboutForm(QWidget *parent) : QDialog(parent), txtAbout(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("关于 Brennic"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(520, 420);
    txtAbout->setObjectName(QStringLiteral("txtAbout"));
    txtAbout->setOpenLinks(false);
    txtAbout->setHtml(AboutText());
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(txtAbout);
    layout->addWidget(buttons);
}

TAboutForm *ShowAboutPage(QWidget *over)
{
    QWidget *window = over ? over->window() : nullptr;
    auto *about = window ? window->findChild<TAboutForm *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (!about)
        about = new TAboutForm(window);
    about->show();
    about->raise();
    about->activateWindow();
    return about;
}

void OpenHomePage(QWidget *from)
{
    const QString url = HomePageSetting();
    if (url.isEmpty())
        ShowAboutPage(from);
    else
        OpenInExternalBrowser(url);
}
