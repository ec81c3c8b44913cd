#pragma once

#include <cstdint>

// The scan code a key stands for (PC/AT set 1, extended keys with 0x100), 0 when
// the key has none. Uses the native key code when the platform gives one (not 0),
// else the toolkit's key.
uint32_t RdpScanCode(uint32_t nativeScanCode, int key);

inline constexpr uint32_t RdpScanCodeExtended = 0x100;

// The remote keyboard layout that matches the desktop's (asked of XKB on an X
// display), US English where it cannot be told. Worked out once.
uint32_t RdpKeyboardLayout();
