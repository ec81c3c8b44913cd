#include "ShellPages.h"

#include "RdpCommon.h"

#include <QUrl>
#include <QUrlQuery>

QString DefaultPageUrl()
{
    return QStringLiteral("qrc:/pages/default.html");
}

QString DefaultPageShowingFile()
{
    // The page shows which server list file is in use, then drops the query from its address.
    QUrl url(DefaultPageUrl());
    url.setQuery(QUrlQuery{{QStringLiteral("file"), ServerListFilePath()}});
    return url.toString(QUrl::FullyEncoded);
}

QString BannerPageUrl()
{
    return QStringLiteral("qrc:/pages/banner.html");
}

QString AboutPageUrl()
{
    return QStringLiteral("qrc:/pages/about.html");
}
