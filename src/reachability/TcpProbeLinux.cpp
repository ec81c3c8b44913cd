#include "TcpProbe.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <cerrno>

namespace TcpProbe {

namespace {

Outcome judge(int error)
{
    return error == 0 || error == ECONNREFUSED ? Outcome::Up : Outcome::Down;
}

} // namespace

Attempt start(const IpAddress &address, unsigned short port)
{
    Attempt attempt;
    const int fd = ::socket(address.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        attempt.outcome = errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM
            ? Outcome::NoResources
            : Outcome::Down;
        return attempt;
    }
    // The first SYN and at most two retransmissions (after about 1 s and 3 s),
    // never the system's default of six: the caller's time-out decides.
    const int synCount = 2;
    setsockopt(fd, IPPROTO_TCP, TCP_SYNCNT, &synCount, sizeof synCount);
    sockaddr_storage to;
    const socklen_t length = address.toSockaddr(to, port);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&to), length) == 0) {
        close(fd);
        attempt.outcome = Outcome::Up;
        return attempt;
    }
    const int error = errno;
    if (error == EINPROGRESS) {
        attempt.handle = fd;
        attempt.outcome = Outcome::Pending;
        return attempt;
    }
    close(fd);
    attempt.outcome = error == EADDRNOTAVAIL || error == EAGAIN ? Outcome::NoResources : judge(error);
    return attempt;
}

Outcome finish(int handle)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    return judge(error);
}

void close(int handle)
{
    const linger reset{1, 0};
    setsockopt(handle, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(handle);
}

void raiseDescriptorLimit(long wanted)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= rlim_t(wanted))
        return;
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? rlim_t(wanted) : std::min(limit.rlim_max, rlim_t(wanted));
    setrlimit(RLIMIT_NOFILE, &limit);
}

long descriptorBudget()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 64;
    const long allowed = limit.rlim_cur == RLIM_INFINITY ? 1L << 20 : long(limit.rlim_cur);
    long open = 0;
    if (DIR *fds = opendir("/proc/self/fd")) {
        while (readdir(fds))
            ++open;
        closedir(fds);
    }
    // A quarter of what is left, and at least 32, stays with the rest of the process.
    const long left = allowed - open;
    return std::max(1L, left - std::max(32L, left / 4));
}

} // namespace TcpProbe
