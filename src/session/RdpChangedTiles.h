#pragma once

#include <QRegion>

#include <cstdint>

// Where a new picture differs from the one shown, in squares of ChangedTileSide
// pixels, for a server that redraws more than it changes (a whole screen of
// H.264 for one small change): copying and showing only those parts spares
// both this program and the display server. Both pictures have 32-bit pixels
// and the given size; the strides are in bytes. The region is in the pictures'
// own coordinates, clipped to their size.
inline constexpr int ChangedTileSide = 64;

QRegion ChangedTiles(const uint8_t *now, int nowStride, const uint8_t *shown, int shownStride, int width,
                     int height);
