#include "MsgBox.h"

#include "AppError.h"

#include <QApplication>
#include <QPointer>

QMessageBox::StandardButton ShowMessageBox(QWidget *parent, const QString &text, QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons)
{
    // On the heap: when its parent goes while it is open, the box goes with it
    // and the loop below ends, rather than the parent deleting a box on the stack.
    QPointer<QMessageBox> box = new QMessageBox(icon, AppTitle(), text, buttons, parent);
    const int answer = box->exec();
    delete box;
    return QMessageBox::StandardButton(answer);
}

void InstallErrorMessageBoxes()
{
    SetAppErrorPresenter([](const QString &message) {
        ShowMessageBox(QApplication::activeWindow(), message, QMessageBox::Critical);
    });
}
