#pragma once

#include <QString>

// What a poller found at its last probe; Unknown before the first.
enum class HostStatus {
    Unknown,
    Online,
    Offline,
    NotFound
};

// What a status poller probes: the address of the row it is bound to, and the
// server's port for the TCP fallback. It is read on the GUI thread only, when
// the poller is resumed or bound; what the poller finds it reports by signal.
class PingTarget {
public:
    // The row's caption: the server's address, a name or an IP address.
    virtual QString address() const = 0;
    // The server's port, for the TCP fallback where no ICMP socket can be opened.
    virtual unsigned short port() const = 0;

protected:
    ~PingTarget() = default;
};
