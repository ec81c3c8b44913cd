#include "WebPageUnavailable.h"

#include "AppError.h"

#include <QLabel>
#include <QUrl>
#include <QVBoxLayout>

WebPageUnavailable::WebPageUnavailable(const QString &why, QWidget *parent) : WebBrowser(parent)
{
    auto *layout = new QVBoxLayout(this);
    auto *text = new QLabel(QStringLiteral("无法显示网页。\n%1").arg(why), this);
    text->setObjectName(QStringLiteral("lblUnavailable"));
    text->setAlignment(Qt::AlignCenter);
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(text);
}

void WebPageUnavailable::Navigate(const QString &url)
{
    const QUrl target = QUrl::fromUserInput(url);
    if (!target.isValid())
        throw AppError(QStringLiteral("无效的网址：%1").arg(url));
    url_ = target.toString();
}

void WebPageUnavailable::GoBack()
{
    throw AppError(QStringLiteral("没有可以后退到的网页。"));
}

void WebPageUnavailable::GoForward()
{
    throw AppError(QStringLiteral("没有可以前进到的网页。"));
}

QString WebPageUnavailable::LocationURL() const
{
    return url_;
}

void WebPageUnavailable::SetSilent(bool silent)
{
    silent_ = silent;
}

bool WebPageUnavailable::Silent() const
{
    return silent_;
}
