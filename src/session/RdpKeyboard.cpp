#include "RdpKeyboard.h"

#include <QGuiApplication>

#include <freerdp/locale/keyboard.h>
#include <winpr/input.h>

namespace {

// XKB's key code (evdev) of the key named LVL3, ISO_Level3_Shift on every layout.
constexpr uint32_t X11KeycodeLevel3 = 92;

// Windows virtual key of a toolkit key, for events that carry no native key code;
// keys of the extended set carry KBDEXT, as the library's tables have them.
DWORD VirtualKeyOf(int key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return DWORD(key); // VK_KEY_A.. share the letters' codes
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return DWORD(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return VK_F1 + DWORD(key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_Return: return VK_RETURN;
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Left: return VK_LEFT | KBDEXT;
    case Qt::Key_Up: return VK_UP | KBDEXT;
    case Qt::Key_Right: return VK_RIGHT | KBDEXT;
    case Qt::Key_Down: return VK_DOWN | KBDEXT;
    case Qt::Key_Insert: return VK_INSERT | KBDEXT;
    case Qt::Key_Delete: return VK_DELETE | KBDEXT;
    case Qt::Key_Home: return VK_HOME | KBDEXT;
    case Qt::Key_End: return VK_END | KBDEXT;
    case Qt::Key_PageUp: return VK_PRIOR | KBDEXT;
    case Qt::Key_PageDown: return VK_NEXT | KBDEXT;
    case Qt::Key_Shift: return VK_LSHIFT;
    case Qt::Key_Control: return VK_LCONTROL;
    case Qt::Key_Alt: return VK_LMENU;
    case Qt::Key_Meta:
    case Qt::Key_Super_L: return VK_LWIN | KBDEXT;
    case Qt::Key_Super_R: return VK_RWIN | KBDEXT;
    case Qt::Key_Menu: return VK_APPS | KBDEXT;
    case Qt::Key_CapsLock: return VK_CAPITAL;
    case Qt::Key_Period: return VK_OEM_PERIOD;
    case Qt::Key_Comma: return VK_OEM_COMMA;
    case Qt::Key_Minus: return VK_OEM_MINUS;
    case Qt::Key_Equal: return VK_OEM_PLUS;
    case Qt::Key_Slash: return VK_OEM_2;
    case Qt::Key_Semicolon: return VK_OEM_1;
    case Qt::Key_Apostrophe: return VK_OEM_7;
    case Qt::Key_BracketLeft: return VK_OEM_4;
    case Qt::Key_BracketRight: return VK_OEM_6;
    case Qt::Key_Backslash: return VK_OEM_5;
    case Qt::Key_QuoteLeft: return VK_OEM_3;
    case Qt::Key_Print: return VK_SNAPSHOT;
    case Qt::Key_ScrollLock: return VK_SCROLL;
    case Qt::Key_Pause: return VK_PAUSE;
    case Qt::Key_NumLock: return VK_NUMLOCK;
    }
    return 0;
}

} // namespace

uint32_t RdpScanCode(uint32_t nativeScanCode, int key)
{
    DWORD vk = 0;
    // The third level of a layout (ISO_Level3_Shift) is reached with AltGr on a
    // Windows layout, whichever key the desktop puts it on: the key of that name
    // (key code 92, which the library's table leaves without a key), the right
    // Alt key, or another a layout option chose.
    if (key == Qt::Key_AltGr || nativeScanCode == X11KeycodeLevel3)
        vk = VK_RMENU | KBDEXT;
    else if (nativeScanCode != 0)
        vk = GetVirtualKeyCodeFromKeycode(nativeScanCode, KEYCODE_TYPE_EVDEV);
    if (vk == 0)
        vk = VirtualKeyOf(key);
    if (vk == 0)
        return 0;
    return GetVirtualScanCodeFromVirtualKeyCode(vk, 4);
}

uint32_t RdpKeyboardLayout()
{
    static const uint32_t layout = [] {
        // The library reads the layout from the X server's keyboard extension;
        // without an X display it would only complain.
        const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb")
            && !qEnvironmentVariableIsEmpty("DISPLAY");
        const DWORD detected = x11 ? freerdp_keyboard_init(0) : 0;
        return detected != 0 ? uint32_t(detected) : uint32_t(KBD_US);
    }();
    return layout;
}
