#pragma once

#include <QWidget>
#include <memory>

// The server manager's windows as the program makes them at start-up.
std::unique_ptr<QWidget> CreateManagerWindow();
std::unique_ptr<QWidget> CreateGroupNameWindow();

// Puts the banner and the link button into the manager's top panel at their places.
void PlaceBannerAndLink(QWidget *pnlTop);
