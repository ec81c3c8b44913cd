#pragma once

// When a session takes itself up again after its connection to the server was
// lost, and on what schedule.

#include "RdpEndCause.h"

// The tries and their times. The defaults suit real networks; tests shorten them.
struct RdpReconnectTiming {
    bool Enabled = true;
    int Tries = 5;
    int TotalMs = 30000; // the tries are spread over this time after the loss
    // How long the server's host may leave the program's packets unanswered
    // before the connection counts as lost.
    int LossDetectMs = 10000;
    // How long an attempt that has reached the server may take to bring the
    // session up (the handshake and the logon), whatever the schedule.
    int HandshakeMs = 10000;
};

// The timing that sessions started from now on use.
void SetRdpReconnectTiming(const RdpReconnectTiming &timing);
RdpReconnectTiming CurrentRdpReconnectTiming();

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

// The line shown over the last picture while attempt k of n runs.
QString RdpReconnectingText(int attempt, int tries);
