#include "SrsFunction.h"

#include "MsgBox.h"

#include <QApplication>
#include <QHash>
#include <QPointer>
#include <QWidget>

namespace {

QMessageBox::StandardButtons ButtonsOf(quint16 flags)
{
    using B = QMessageBox;
    switch (flags & 0x0F) {
    case MsgBoxFlag::OkCancel: return B::Ok | B::Cancel;
    case MsgBoxFlag::AbortRetryIgnore: return B::Abort | B::Retry | B::Ignore;
    case MsgBoxFlag::YesNoCancel: return B::Yes | B::No | B::Cancel;
    case MsgBoxFlag::YesNo: return B::Yes | B::No;
    case MsgBoxFlag::RetryCancel: return B::Retry | B::Cancel;
    default: return B::Ok;
    }
}

QMessageBox::Icon IconOf(quint16 flags)
{
    switch (flags & 0xF0) {
    case MsgBoxFlag::IconError: return QMessageBox::Critical;
    case MsgBoxFlag::IconQuestion: return QMessageBox::Question;
    case MsgBoxFlag::IconWarning: return QMessageBox::Warning;
    case MsgBoxFlag::IconInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

int IdOf(QMessageBox::StandardButton button)
{
    switch (button) {
    case QMessageBox::Ok: return MsgBoxResult::Ok;
    case QMessageBox::Abort: return MsgBoxResult::Abort;
    case QMessageBox::Retry: return MsgBoxResult::Retry;
    case QMessageBox::Ignore: return MsgBoxResult::Ignore;
    case QMessageBox::Yes: return MsgBoxResult::Yes;
    case QMessageBox::No: return MsgBoxResult::No;
    default: return MsgBoxResult::Cancel;
    }
}

QHash<TWindowHandle, QPointer<QWidget>> &Handles()
{
    static QHash<TWindowHandle, QPointer<QWidget>> handles;
    return handles;
}

const char *const HandleProperty = "brennicWindowHandle";

} // namespace

int ShowMsgBox(const QString &text, quint16 flags)
{
    if (flags == 0)
        flags = MsgBoxFlag::IconInformation;
    else if (flags >= 1 && flags <= 5)
        flags |= MsgBoxFlag::IconQuestion;
    return IdOf(ShowMessageBox(QApplication::activeWindow(), text, IconOf(flags), ButtonsOf(flags)));
}

TWindowHandle HandleOf(QWidget *control)
{
    if (!control)
        return 0;
    if (const QVariant known = control->property(HandleProperty); known.isValid())
        return known.value<TWindowHandle>();
    static TWindowHandle last = 0x10000;
    const TWindowHandle handle = last += 4;
    control->setProperty(HandleProperty, QVariant::fromValue(handle));
    Handles().insert(handle, control);
    QObject::connect(control, &QObject::destroyed, [handle] { Handles().remove(handle); });
    return handle;
}

QWidget *ControlFromHandle(TWindowHandle handle)
{
    return Handles().value(handle).data();
}
