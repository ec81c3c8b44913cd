#pragma once

#include "ReachabilityHistory.h"

#include <QDateTime>
#include <QString>

#include <vector>

// The lines that a server row's tooltip adds about the server's recent past:
//   上次变化：2026-12-11 05:54:45（3 小时 12 分钟前，1 小时内 2 次）
//   可用率 1 小时：99.5%  24 小时：97.2%
//   延迟：▁▂▂▃▅▇ 12.3 ms
// now: the moment the tooltip is shown. Nothing known yet: an empty text.
QString historyToolTip(const ReachabilityHistory::Summary &summary, const QDateTime &now);

// A percentage with one decimal, never rounded up to a full 100 % that was not:
// 0.99961 shows as 99.9%, 1 as 100%.
QString availabilityText(double availability);
// A latency series (NaN where none) in block characters, lowest to highest
// of the series; a space where none.
QString sparklineText(const std::vector<double> &latencyMs);
