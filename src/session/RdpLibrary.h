#pragma once

#include <QString>

// What the library's log told on one worker thread: where an attempt failed.
struct RdpLogCapture {
    QString LastError; // the last line logged as an error
    QString State;     // the last connection state reached
};

// Routes the library's log into the program's own and creates every logger the
// library will ask for, so that workers only look loggers up; takes from the
// environment what would lead the library around the relay; removes what relays
// of processes gone left behind. Called on the GUI thread before the first worker starts.
void PrepareRdpLibrary();

// The environment variables that would make the library connect directly.
inline constexpr const char *RdpBypassVariables[] = {"no_proxy", "NO_PROXY"};

// The capture the calling thread's log lines go to; nullptr for none.
void SetRdpLogCapture(RdpLogCapture *capture);
