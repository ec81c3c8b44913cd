#pragma once

#include <QString>

// What a status poller needs of the list row it reports into. The manager's
// server row implements it; all of it is used on the GUI thread only.
class StatusRow {
public:
    virtual ~StatusRow() = default;

    // The row's caption: the server's address, a name or an IP address.
    virtual QString address() const = 0;
    // The server's port, for the TCP fallback where no ICMP socket can be opened.
    virtual unsigned short port() const = 0;
    // Whether the row has its status column (a row with fewer columns gets no status).
    virtual bool hasStatusColumn() const = 0;
    virtual QString status() const = 0;
    virtual void setStatus(const QString &text) = 0;
};
