#pragma once

#include <QString>
#include <QtGlobal>

class QWidget;

// Style flags of a message box, as a 16-bit set: a button set, an icon, bits above.
namespace MsgBoxFlag {
inline constexpr quint16 Ok = 0x00;
inline constexpr quint16 OkCancel = 0x01;
inline constexpr quint16 AbortRetryIgnore = 0x02;
inline constexpr quint16 YesNoCancel = 0x03;
inline constexpr quint16 YesNo = 0x04;
inline constexpr quint16 RetryCancel = 0x05;
inline constexpr quint16 IconError = 0x10;
inline constexpr quint16 IconQuestion = 0x20;
inline constexpr quint16 IconWarning = 0x30;
inline constexpr quint16 IconInformation = 0x40;
} // namespace MsgBoxFlag

// The id of the button that closed a message box.
namespace MsgBoxResult {
inline constexpr int Ok = 1;
inline constexpr int Cancel = 2;
inline constexpr int Abort = 3;
inline constexpr int Retry = 4;
inline constexpr int Ignore = 5;
inline constexpr int Yes = 6;
inline constexpr int No = 7;
} // namespace MsgBoxResult

// A modal message box captioned with the program's title. A bare OK box gets the
// information icon, a bare button set the question icon; other flags are used as
// they are. Returns the id of the button pressed.
int ShowMsgBox(const QString &text, quint16 flags);

// A number naming one widget's window for as long as the widget lives; never 0.
using TWindowHandle = quintptr;
TWindowHandle HandleOf(QWidget *control);
// The widget a handle names, or nullptr when the handle is unknown or its widget is gone.
QWidget *ControlFromHandle(TWindowHandle handle);
