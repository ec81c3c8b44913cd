#include "RdpChangedTiles.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// The columns of tiles in one band of rows that differ.
std::vector<bool> ChangedColumns(const uint8_t *now, int nowStride, const uint8_t *shown, int shownStride,
                                 int width, int rows)
{
    const int columns = (width + ChangedTileSide - 1) / ChangedTileSide;
    std::vector<bool> changed(size_t(columns), false);
    int left = columns;
    const size_t rowBytes = size_t(width) * 4;
    for (int y = 0; y < rows && left > 0; ++y) {
        const uint8_t *a = now + ptrdiff_t(y) * nowStride;
        const uint8_t *b = shown + ptrdiff_t(y) * shownStride;
        // Most rows are the same throughout: one comparison says so.
        if (std::memcmp(a, b, rowBytes) == 0)
            continue;
        for (int c = 0; c < columns; ++c) {
            if (changed[size_t(c)])
                continue;
            const int x = c * ChangedTileSide;
            const size_t bytes = size_t(std::min(ChangedTileSide, width - x)) * 4;
            if (std::memcmp(a + size_t(x) * 4, b + size_t(x) * 4, bytes) != 0) {
                changed[size_t(c)] = true;
                --left;
            }
        }
    }
    return changed;
}

} // namespace

QRegion ChangedTiles(const uint8_t *now, int nowStride, const uint8_t *shown, int shownStride, int width,
                     int height)
{
    QRegion region;
    if (!now || !shown || width <= 0 || height <= 0)
        return region;
    for (int top = 0; top < height; top += ChangedTileSide) {
        const int rows = std::min(ChangedTileSide, height - top);
        const std::vector<bool> changed = ChangedColumns(now + ptrdiff_t(top) * nowStride, nowStride,
                                                         shown + ptrdiff_t(top) * shownStride, shownStride,
                                                         width, rows);
        // Neighbouring tiles go in as one rectangle.
        for (size_t c = 0; c < changed.size();) {
            if (!changed[c]) {
                ++c;
                continue;
            }
            size_t end = c;
            while (end < changed.size() && changed[end])
                ++end;
            const int left = int(c) * ChangedTileSide;
            const int right = std::min(int(end) * ChangedTileSide, width);
            region += QRect(left, top, right - left, rows);
            c = end;
        }
    }
    return region;
}
