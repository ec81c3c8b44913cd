#include "MsgBox.h"

#include "AppError.h"

#include <QApplication>

QMessageBox::StandardButton ShowMessageBox(QWidget *parent, const QString &text, QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, AppTitle(), text, buttons, parent);
    return QMessageBox::StandardButton(box.exec());
}

void InstallErrorMessageBoxes()
{
    SetAppErrorPresenter([](const QString &message) {
        ShowMessageBox(QApplication::activeWindow(), message, QMessageBox::Critical);
    });
}
