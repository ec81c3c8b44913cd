#pragma once

#include "RdpCommon.h"

#include <QString>

struct ServerListOptions;
struct SessionRequest;

// Sessions opened from the command line, without the manager: "brennic FILE.rdp"
// (what a file manager runs for a connection file) and "brennic --connect ADDRESS",
// any number of each in one process, as the manager opens its sessions.

// The largest connection file read: such a file is a few hundred bytes.
inline constexpr qint64 MaxSessionFileSize = 1024 * 1024;
// The remote desktop sizes a connection file may ask for; others are brought within.
inline constexpr int MinDesktopSide = 200;
inline constexpr int MaxDesktopSide = 8192;

// The settings for "HOST", "HOST:PORT" or "[IPv6]:PORT". Throws an AppError that
// tells the user why the address cannot be connected to.
TClientSettings SessionFromAddress(const QString &address);
// The settings of the server of a connection file, which is read as untrusted
// input. Throws an AppError that names the file and why it cannot be used.
TClientSettings SessionFromRdpFile(const QString &path);

// The settings of the session a request asks for; throws an AppError as above.
TClientSettings SessionFromRequest(const SessionRequest &request);

// Opens each session the options ask for in a window of its own and runs until
// the last of those windows has gone; the program's exit code. When any file or
// address cannot be used, each reason is told on standard error, and in a message
// box as well when the program has no terminal to tell it on (started from a
// desktop), and no window is opened.
int RunCommandLineSession(int argc, char *argv[], const ServerListOptions &options);
