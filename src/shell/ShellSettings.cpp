#include "ShellSettings.h"

#include "ProgramSettings.h"

namespace {

const QString HomePageKey = QStringLiteral("Links/HomePage");
const QString GeometryKey = QStringLiteral("MainWindow/Geometry");

} // namespace

QString SettingsFilePath()
{
    return ProgramSettings().fileName();
}

QString HomePageSetting()
{
    return ProgramSettings().value(HomePageKey).toString().trimmed();
}

void SetHomePageSetting(const QString &url)
{
    ProgramSettings().setValue(HomePageKey, url);
}

QByteArray MainWindowGeometry()
{
    return ProgramSettings().value(GeometryKey).toByteArray();
}

void SetMainWindowGeometry(const QByteArray &geometry)
{
    ProgramSettings().setValue(GeometryKey, geometry);
}
