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
// server's port for the TCP fallback; and where it shows what it found. The
// manager's server row implements it; it is used on the GUI thread only: read
// when the poller is resumed or bound, shown into after each result.
class PingTarget {
public:
    // The row's caption: the server's address, a name or an IP address.
    virtual QString address() const = 0;
    // The server's port, for the TCP fallback where no ICMP socket can be opened.
    virtual unsigned short port() const = 0;
    // Shows what the poller bound to it found, after each result of the poller
    // while it runs; a target that shows nothing leaves it alone.
    virtual void showStatus(HostStatus) {}

protected:
    ~PingTarget() = default;
};
