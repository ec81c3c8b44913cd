#include "Sparkline.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

void paintSparkline(QPainter &painter, const QRectF &rect, const std::vector<double> &series, const QColor &color)
{
    double low = INFINITY;
    double high = -INFINITY;
    for (const double v : series) {
        if (!std::isnan(v)) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    if (std::isinf(low) || rect.width() < 2 || rect.height() < 2)
        return;
    const auto pointAt = [&](size_t i) {
        const double x = series.size() > 1 ? rect.left() + rect.width() * double(i) / double(series.size() - 1) : rect.center().x();
        const double share = high > low ? (series[i] - low) / (high - low) : 0.5;
        return QPointF(x, rect.bottom() - share * rect.height());
    };

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(color, 1.2);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(color);
    QPainterPath path;
    bool drawing = false;
    for (size_t i = 0; i < series.size(); ++i) {
        if (std::isnan(series[i])) {
            drawing = false;
            continue;
        }
        const QPointF p = pointAt(i);
        const bool alone = (i == 0 || std::isnan(series[i - 1])) && (i + 1 == series.size() || std::isnan(series[i + 1]));
        if (alone)
            painter.drawEllipse(p, 1.0, 1.0);
        if (drawing)
            path.lineTo(p);
        else
            path.moveTo(p);
        drawing = true;
    }
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
    const auto newest = std::find_if(series.rbegin(), series.rend(), [](double v) { return !std::isnan(v); });
    painter.setBrush(color);
    painter.drawEllipse(pointAt(size_t(series.rend() - newest - 1)), 1.5, 1.5);
    painter.restore();
}
