#include "HistoryToolTip.h"

#include <algorithm>
#include <cmath>

namespace {

const QString Dash = QStringLiteral("—");

QString ago(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("刚才");
    const qint64 minutes = seconds / 60;
    if (minutes < 60)
        return QStringLiteral("%1 分钟前").arg(minutes);
    const qint64 hours = minutes / 60;
    if (hours < 48)
        return QStringLiteral("%1 小时 %2 分钟前").arg(hours).arg(minutes % 60);
    return QStringLiteral("%1 天前").arg(hours / 24);
}

QString optionalAvailability(const std::optional<double> &availability)
{
    return availability ? availabilityText(*availability) : Dash;
}

QString lastLatency(const std::vector<double> &latencyMs)
{
    const auto last = std::find_if(latencyMs.rbegin(), latencyMs.rend(), [](double v) { return !std::isnan(v); });
    if (last == latencyMs.rend())
        return QString();
    return *last < 10 ? QStringLiteral("%1 ms").arg(*last, 0, 'f', 1) : QStringLiteral("%1 ms").arg(std::lround(*last));
}

} // namespace

QString availabilityText(double availability)
{
    if (availability >= 1)
        return QStringLiteral("100%");
    const double tenths = std::floor(std::max(availability, 0.0) * 1000) / 10;
    return QStringLiteral("%1%").arg(tenths, 0, 'f', 1);
}

QString sparklineText(const std::vector<double> &latencyMs)
{
    static const QString blocks = QStringLiteral("▁▂▃▄▅▆▇█");
    double low = INFINITY;
    double high = -INFINITY;
    for (const double v : latencyMs) {
        if (!std::isnan(v)) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    QString text;
    for (const double v : latencyMs) {
        if (std::isnan(v)) {
            text += QLatin1Char(' ');
            continue;
        }
        const double share = high > low ? (v - low) / (high - low) : 0;
        text += blocks[qsizetype(std::lround(share * double(blocks.size() - 1)))];
    }
    return text;
}

QString historyToolTip(const ReachabilityHistory::Summary &summary, const QDateTime &now)
{
    if (!summary.lastChange && !summary.availabilityDay)
        return QString();
    QStringList lines;
    if (summary.lastChange) {
        QString when = summary.lastChange->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QString note = ago(std::max<qint64>(summary.lastChange->secsTo(now), 0));
        if (summary.changesHour > 0)
            note += QStringLiteral("，1 小时内 %1 次").arg(summary.changesHour);
        lines << QStringLiteral("上次变化：%1（%2）").arg(when, note);
    } else {
        lines << QStringLiteral("上次变化：无");
    }
    lines << QStringLiteral("可用率 1 小时：%1  24 小时：%2")
                 .arg(optionalAvailability(summary.availabilityHour), optionalAvailability(summary.availabilityDay));
    const QString latency = lastLatency(summary.latencyMs);
    if (!latency.isEmpty())
        lines << QStringLiteral("延迟：%1 %2").arg(sparklineText(summary.latencyMs), latency);
    return lines.join(QLatin1Char('\n'));
}
