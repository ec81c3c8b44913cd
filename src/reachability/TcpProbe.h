#pragma once

#include "IpAddress.h"

// The probe used where no ICMP socket can be opened: a TCP connection attempt
// to the server's own port. Connected or refused: the host is up. Unreachable,
// or no answer within the time-out: it is down. Platform part, like IcmpSocket.
namespace TcpProbe {

enum class Outcome {
    Pending, // connecting: wait until the handle is writable, then finish()
    Up,
    Down,
    NoResources, // no socket could be made now (descriptor limit); try again later
};

struct Attempt {
    int handle = -1; // valid while Pending
    Outcome outcome = Outcome::Down;
};

Attempt start(const IpAddress &address, unsigned short port);
Outcome finish(int handle);
// Closes with a reset, so no TIME_WAIT is left behind.
void close(int handle);
// Lets the process hold as many descriptors as the hard limit allows, up to wanted.
void raiseDescriptorLimit(long wanted);
// How many attempts may hold a descriptor at once under the present limit,
// leaving the rest of the process room to open its files.
long descriptorBudget();

} // namespace TcpProbe
