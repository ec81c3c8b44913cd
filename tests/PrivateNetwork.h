#pragma once

// Moves the calling process, before it starts any thread, into a network
// namespace of its own whose only interface is loopback, brought up: nothing a
// test sends can leave the machine, and a name look-up fails at once. Root gets
// a plain network namespace; anyone else a user namespace that maps them to root
// inside it. The namespace goes away with the process.

#include <QString>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace PrivateNetwork {

namespace detail {

inline bool writeFile(const char *path, const std::string &text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ::close(fd);
    return ok;
}

inline bool loopbackUp()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP | IFF_RUNNING;
    ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return ok;
}

} // namespace detail

// True when the process is now in its own namespace; otherwise `why` says why not.
inline bool Enter(QString *why = nullptr)
{
    const auto fail = [why](const QString &text) {
        if (why)
            *why = text;
        return false;
    };
    if (::unshare(CLONE_NEWNET) != 0) {
        if (::geteuid() == 0)
            return fail(QStringLiteral("cannot make a network namespace: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
            return fail(QStringLiteral("needs root or user namespaces (unshare: %1)").arg(QString::fromLocal8Bit(std::strerror(errno))));
        detail::writeFile("/proc/self/setgroups", "deny");
        detail::writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        detail::writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
    if (!detail::loopbackUp())
        return fail(QStringLiteral("cannot bring up the namespace's loopback interface"));
    return true;
}

} // namespace PrivateNetwork
