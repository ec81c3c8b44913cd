#pragma once

#include "RdpEndCause.h"

#include <QtGlobal>

#include <atomic>
#include <chrono>

// What a relay's owner and the relays' loop share: the owner's orders (cancel,
// the attempt's limits, loss detection) and the outcome the loop reports back.
// Atomics only; whatever else the two exchange goes through the loop's commands.
struct RdpRelayState {
    std::atomic<bool> cancelled{false};
    std::atomic<RdpConnectFailure> failure{RdpConnectFailure::None};
    std::atomic<RdpLinkEnd> link{RdpLinkEnd::Open};
    std::atomic<int> requests{0};
    std::atomic<qint64> attemptEnd{0}; // steady-clock milliseconds; 0 while no attempt is limited
    std::atomic<int> handshakeMs{0};
    std::atomic<int> lossDetectMs{0};

    static qint64 NowMs()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    bool AttemptOver(qint64 now) const
    {
        const qint64 end = attemptEnd;
        return end != 0 && now >= end;
    }
};
