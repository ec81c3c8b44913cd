#include "ShellPages.h"

QString DefaultPageUrl()
{
    return QStringLiteral("qrc:/pages/default.html");
}

QString BannerPageUrl()
{
    return QStringLiteral("qrc:/pages/banner.html");
}

QString AboutPageUrl()
{
    return QStringLiteral("qrc:/pages/about.html");
}
