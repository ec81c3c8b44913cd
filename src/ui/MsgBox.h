#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

// A modal message box captioned with the program's title. Returns the button
// pressed; when parent is destroyed while the box is open, the box closes with it.
QMessageBox::StandardButton ShowMessageBox(QWidget *parent, const QString &text,
                                           QMessageBox::Icon icon = QMessageBox::NoIcon,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// What a message box is about to show.
struct MessageBoxContent {
    QWidget *parent = nullptr;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
};

// Answers message boxes in place of the user: while one is set, ShowMessageBox
// hands it the box and returns its answer instead of showing the box. An empty
// one brings the modal boxes back. Returns the answerer it replaces.
using MessageBoxAnswerer = std::function<QMessageBox::StandardButton(const MessageBoxContent &)>;
MessageBoxAnswerer SetMessageBoxAnswerer(MessageBoxAnswerer answerer);

// Shows errors that leave an event handler in a message box with the error icon.
void InstallErrorMessageBoxes();
