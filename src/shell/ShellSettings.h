#pragma once

#include <QByteArray>
#include <QString>

// The program's own settings, kept in the user's configuration folder
// ($XDG_CONFIG_HOME/brennic/brennic.conf, ~/.config when unset), beside the server
// list's SvrList.ini.
//
//   [Links]
//   HomePage=https://...     the address the link button opens; empty: the about page
//   [MainWindow]
//   Geometry=...             the main window's size and place, kept when it closes
QString SettingsFilePath();

QString HomePageSetting();
void SetHomePageSetting(const QString &url);

QByteArray MainWindowGeometry();
void SetMainWindowGeometry(const QByteArray &geometry);
