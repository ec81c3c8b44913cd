#pragma once

#include <QString>
#include <array>

// The colour depths a session can ask for: captions and bits per pixel, in step.
inline constexpr int ColorDepthCount = 5;
inline constexpr int DefaultColorDepthIndex = 3;
extern const std::array<QString, ColorDepthCount> ColorDepthNames;
inline constexpr std::array<int, ColorDepthCount> ColorDepthValues = {8, 15, 16, 24, 32};
