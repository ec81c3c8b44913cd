#pragma once

// How a backend's worker reconnects: which ends it bridges and on what schedule.

#include "RdpEndCause.h"
#include "RdpReconnect.h"

// Whether the end of a session that was up is a loss of the network, bridged by
// reconnecting: the server's host stopped answering. Not when the server ended
// the session (a logoff, an administrator, a time limit: it gives its error info
// or closes the connection), nor when a certificate was refused. The user's own
// ends are the caller's to tell.
bool RdpLossIsTransient(const RdpEndFacts &facts);

// Whether a reconnect attempt that failed so leaves room for the next one: the
// server could not be reached (yet). Not when the server answered with a
// refusal: an error info, the credentials, the certificate.
bool RdpAttemptMayRetry(const RdpEndFacts &facts);

// When attempt k (1 for the first) starts, counted from the loss, and how long it
// may take to reach the server, in milliseconds.
struct RdpAttemptSlot {
    int StartMs = 0;
    int LimitMs = 0;
};
RdpAttemptSlot RdpReconnectSlot(const RdpReconnectTiming &timing, int attempt);
