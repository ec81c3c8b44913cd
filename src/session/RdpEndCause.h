#pragma once

#include <QString>

#include <cstdint>

// How the program's own connection to the server went, as far as it got.
enum class RdpConnectFailure {
    None,
    NameNotFound,
    Refused,
    Unreachable,
    Failed
};

// How the program's connection to the server ended, once it had been made: still
// open, closed by the server's host, reset by it, or lost (its host stopped
// answering or could no longer be reached).
enum class RdpLinkEnd {
    Open,
    Closed,
    Reset,
    Lost
};

// What is known when a session ends.
struct RdpEndFacts {
    uint32_t ErrorInfo = 0;    // the server's error info, 0 when it gave none
    uint32_t ClientError = 0;  // the client library's last error, 0 when none
    bool WasConnected = false; // the connection had come up
    bool CertificateRefused = false;
    RdpConnectFailure Connect = RdpConnectFailure::None;
    RdpLinkEnd Link = RdpLinkEnd::Open;
    QString State;   // the library's last connection state
    QString LogText; // the library's last error line
};

// The cause of the end in words a user can act on; never empty.
QString RdpEndCause(const RdpEndFacts &facts);
// True when the end shows the server refusing the credentials.
bool RdpEndMentionsAuthentication(const RdpEndFacts &facts);
// The words for one error info code of the server; empty for 0.
QString RdpErrorInfoCause(uint32_t errorInfo);
