#include "DialogSeam.h"

#include <QDialog>
#include <QTimer>

#include <utility>

namespace {

DialogSeam::Hook &CurrentHook()
{
    static DialogSeam::Hook hook;
    return hook;
}

} // namespace

int DialogSeam::Exec(QDialog &dialog)
{
    Announce(&dialog);
    return dialog.exec();
}

void DialogSeam::Announce(QDialog *dialog)
{
    if (!CurrentHook())
        return;
    // Posted: it runs inside the dialog's loop, with the dialog shown. A dialog
    // that is gone by then is not handed on.
    QTimer::singleShot(0, dialog, [dialog] {
        // A copy: the hook may be replaced while it runs.
        if (const Hook hook = CurrentHook())
            hook(dialog);
    });
}

DialogSeam::Hook DialogSeam::SetHook(Hook hook)
{
    return std::exchange(CurrentHook(), std::move(hook));
}
