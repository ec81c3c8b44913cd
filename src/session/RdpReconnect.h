#pragma once

// When a session takes itself up again after its connection to the server was
// lost, and on what schedule.

#include <QString>

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

// The line shown over the last picture while attempt k of n runs.
QString RdpReconnectingText(int attempt, int tries);
