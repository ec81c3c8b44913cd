#pragma once

// The still picture x11_target paints with --pattern: in its upper half bands of
// colour 32 pixels wide, each of its own hue; in its lower half a chequerboard
// of 32-pixel cells. Edges and many colours, for comparing what codecs make of it.

inline constexpr int PatternCell = 32;

// The colour (0xRRGGBB) at a point of a screen of that height.
inline unsigned long PatternColor(int x, int y, int height)
{
    const int column = x / PatternCell;
    if (y < height / 2) {
        static const unsigned long bands[] = {0xd62728, 0xff7f0e, 0xbcbd22, 0x2ca02c, 0x17becf, 0x1f77b4,
                                              0x9467bd, 0xe377c2, 0x8c564b, 0x7f7f7f, 0xffffff, 0x000000};
        return bands[column % 12];
    }
    return ((column + y / PatternCell) % 2) ? 0xf0f0f0 : 0x202040;
}
