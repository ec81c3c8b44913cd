#pragma once

#include <QString>

// What a server field and a port must be before a connection is attempted. The
// RDP library takes a server beginning with "|" as an open file descriptor (the
// port giving its number) and one beginning with "/" as a UNIX socket path:
// neither is an address a user means, so both are refused, and so are ports
// outside 1-65535. Each returns the message that tells the user why, empty
// when the value can be connected to.
QString ServerFieldProblem(const QString &server);
QString PortProblem(int port);
