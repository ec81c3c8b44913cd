#pragma once

#include <QString>
#include <QStringView>

// What a server field and a port must be before a connection is attempted. The
// RDP library takes a server beginning with "|" as an open file descriptor (the
// port giving its number) and one beginning with "/" as a UNIX socket path:
// neither is an address a user means, so both are refused, and so are ports
// outside 1-65535. A blank or a control character has no place in a host name
// or an IP address either: the library would pass on only the part before it
// ("127.0.0.1:33890 x" would reach port 33890, whatever the port), so an
// address with one is refused too; blanks around it are not part of it.

// True when the address (without blanks around it) may be connected to.
// Inline: the backend module checks every address that reaches it as well.
inline bool IsServerAddress(QStringView address)
{
    if (address.isEmpty() || address.startsWith(QLatin1Char('|')) || address.startsWith(QLatin1Char('/')))
        return false;
    for (QChar c : address)
        if (c.isSpace() || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return false;
    return true;
}

// Why the address (blanks around it dropped) is none, in a few words; empty when
// it may be connected to, and for an empty one (the caller's to refuse).
QString ServerAddressFault(const QString &server);
// The address as the user can read it: control characters shown as a mark.
QString VisibleAddress(const QString &server);

// Each returns the message that tells the user why, empty when the value can be
// connected to (an empty server is the caller's to refuse).
QString ServerFieldProblem(const QString &server);
QString PortProblem(int port);
