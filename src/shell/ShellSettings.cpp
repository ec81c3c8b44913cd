#include "ShellSettings.h"

#include <QSettings>

namespace {

const QString HomePageKey = QStringLiteral("Links/HomePage");
const QString GeometryKey = QStringLiteral("MainWindow/Geometry");

QSettings Settings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("brennic"),
                     QStringLiteral("brennic"));
}

} // namespace

QString SettingsFilePath()
{
    return Settings().fileName();
}

QString HomePageSetting()
{
    return Settings().value(HomePageKey).toString().trimmed();
}

void SetHomePageSetting(const QString &url)
{
    Settings().setValue(HomePageKey, url);
}

QByteArray MainWindowGeometry()
{
    return Settings().value(GeometryKey).toByteArray();
}

void SetMainWindowGeometry(const QByteArray &geometry)
{
    Settings().setValue(GeometryKey, geometry);
}
