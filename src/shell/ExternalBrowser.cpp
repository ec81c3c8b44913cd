#include "ExternalBrowser.h"

#include "AppError.h"

#include <QDesktopServices>
#include <QUrl>

void OpenInExternalBrowser(const QString &Url)
{
    const QUrl url(Url);
    if (!url.isValid() || url.isRelative())
        throw AppError(QStringLiteral("无效的网址：%1").arg(Url));
    if (!QDesktopServices::openUrl(url))
        throw AppError(QStringLiteral("无法打开 %1：桌面没有可用来打开它的网页浏览器。").arg(Url));
}
