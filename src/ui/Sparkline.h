#pragma once

#include <QColor>
#include <QRectF>

#include <vector>

class QPainter;

// Paints a latency series (oldest first, NaN where none) as a thin line across
// rect: lowest value at the bottom, highest at the top, a flat series across
// the middle; a gap breaks the line, a lone value is a dot, and the newest
// value gets a dot of its own. Nothing for a series without a value.
void paintSparkline(QPainter &painter, const QRectF &rect, const std::vector<double> &series, const QColor &color);
