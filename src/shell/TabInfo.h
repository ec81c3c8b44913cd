#pragma once

#include <QString>
#include <cstdint>

enum class TBrowserTag : std::uint8_t {
    btUnknown = 0,
    btNewPageTab = 1
};

struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
};

// Bookkeeping for the tab made at one position.
struct TTabInfo {
    TBrowserTag BrowserTag = TBrowserTag::btUnknown;
    bool CloseIconUpdateFlag = false;
    QString Url;
    int PageIndex = 0;
    TRect CloseIconPos;
};

inline constexpr int TabInfoCount = 256;
