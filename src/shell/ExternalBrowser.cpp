#include "ExternalBrowser.h"

#include "AppError.h"

#include <QDesktopServices>
#include <QUrl>

void OpenInExternalBrowser(const QString &Url)
{
    const QUrl url(Url);
    if (!url.isValid() || url.isRelative())
        throw AppError(QStringLiteral("Invalid address: %1").arg(Url));
    if (!QDesktopServices::openUrl(url))
        throw AppError(QStringLiteral("Cannot open %1: the desktop has no web browser to open it with.").arg(Url));
}
