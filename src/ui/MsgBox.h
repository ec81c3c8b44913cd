#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// A modal message box captioned with the program's title. Returns the button
// pressed; when parent is destroyed while the box is open, the box closes with it.
QMessageBox::StandardButton ShowMessageBox(QWidget *parent, const QString &text,
                                           QMessageBox::Icon icon = QMessageBox::NoIcon,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// Shows errors that leave an event handler in a message box with the error icon.
void InstallErrorMessageBoxes();
