#include "Banner.h"

#include "AboutForm.h"
#include "AppError.h"
#include "ExternalBrowser.h"
#include "ShellPages.h"
#include "WebBrowser.h"

#include <QVBoxLayout>

TBanner::TBanner(QWidget *parent, const QString &page) : QWidget(parent), WebBrowser1(CreateWebBrowser(this))
{
    setObjectName(QStringLiteral("WebBrowser1"));
    setFixedSize(468, 60);
    WebBrowser1->setObjectName(QStringLiteral("BannerPage"));
    WebBrowser1->SetSilent(true);
    WebBrowser1->SetContextMenuEnabled(false);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(WebBrowser1);
    connect(WebBrowser1, &WebBrowser::BeforeNavigate2, this,
            [this](const QString &url, bool *cancel) { WebBrowser1BeforeNavigate2(url, cancel); });
    // Like the banner's other links, one with a new-window target goes to the desktop's browser.
    connect(WebBrowser1, &WebBrowser::NewWindow3, this,
            [this](const QString &url, bool *cancel) { WebBrowser1BeforeNavigate2(url, cancel); });
    Guard([&] { WebBrowser1->Navigate(page.isEmpty() ? BannerPageUrl() : page); });
}

void TBanner::WebBrowser1BeforeNavigate2(const QString &url, bool *cancel)
{
    *cancel = true;
    Guard([&] { OpenLink(url); });
}

void TBanner::OpenLink(const QString &url)
{
    if (url == AboutPageUrl())
        OpenHomePage(this);
    else
        OpenInExternalBrowser(url);
}
