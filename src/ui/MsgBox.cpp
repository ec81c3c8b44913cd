#include "MsgBox.h"

#include "AppError.h"
#include "DialogSeam.h"

#include <QApplication>
#include <QPointer>

#include <utility>

namespace {

MessageBoxAnswerer &Answerer()
{
    static MessageBoxAnswerer answerer;
    return answerer;
}

} // namespace

QMessageBox::StandardButton ShowMessageBox(QWidget *parent, const QString &text, QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons)
{
    // A copy: the answerer may be replaced while it answers.
    if (const MessageBoxAnswerer answerer = Answerer())
        return answerer({parent, icon, AppTitle(), text, buttons});
    // On the heap: when its parent goes while it is open, the box goes with it
    // and the loop below ends, rather than the parent deleting a box on the stack.
    QPointer<QMessageBox> box = new QMessageBox(icon, AppTitle(), text, buttons, parent);
    const int answer = DialogSeam::Exec(*box);
    delete box;
    return QMessageBox::StandardButton(answer);
}

MessageBoxAnswerer SetMessageBoxAnswerer(MessageBoxAnswerer answerer)
{
    return std::exchange(Answerer(), std::move(answerer));
}

void InstallErrorMessageBoxes()
{
    SetAppErrorPresenter([](const QString &message) {
        ShowMessageBox(QApplication::activeWindow(), message, QMessageBox::Critical);
    });
}
