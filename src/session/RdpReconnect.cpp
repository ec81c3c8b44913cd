#include "RdpReconnect.h"

#include <mutex>

namespace {

std::mutex g_timingLock;
RdpReconnectTiming g_timing;

} // namespace

void SetRdpReconnectTiming(const RdpReconnectTiming &timing)
{
    std::lock_guard guard(g_timingLock);
    g_timing = timing;
}

RdpReconnectTiming CurrentRdpReconnectTiming()
{
    std::lock_guard guard(g_timingLock);
    return g_timing;
}

QString RdpReconnectingText(int attempt, int tries)
{
    return QStringLiteral("正在重新连接(第 %1 次,共 %2 次)…").arg(attempt).arg(tries);
}
