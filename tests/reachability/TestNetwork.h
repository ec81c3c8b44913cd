#pragma once

// Puts the test process into a network namespace of its own, before any thread
// starts: only a loopback interface, and on it
//   127.1.0.0/16  dropped on input, so that its hosts never answer;
//   127.3.0.0/16  hosts whose echo replies leave from another address, 127.0.0.99
//                 (as from a host behind address translation);
//   127.4.0.1     answers every packet with an ICMP "host unreachable",
//   127.4.0.2     with "administratively prohibited",
//   127.4.0.3     with "network unreachable".
// Nothing the tests send can leave the machine, and the namespace goes away
// with the process however the test ends. A mount namespace of its own gives
// the process a hosts file with the test names below, and a resolver
// configuration whose only name server is TestDnsServer's address, where
// nobody listens unless a test starts a TestDns: a name look-up then fails at once.

#include "PrivateNetwork.h"

#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <net/if.h>
#include <sched.h>
#include <sys/mount.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

extern char **environ;

namespace TestNetwork {

inline bool &isPrivate()
{
    static bool value = false;
    return value;
}

inline bool &canDropHosts()
{
    static bool value = false;
    return value;
}

inline bool &hasTestNames()
{
    static bool value = false;
    return value;
}

inline bool &canRewriteReplies()
{
    static bool value = false;
    return value;
}

inline constexpr const char *TestDnsServer = "127.0.0.53";
inline constexpr const char *RewrittenReplySource = "127.0.0.99";

// The names of the test's hosts file.
inline constexpr const char *HostsFile =
    "127.0.0.1 localhost\n"
    "::1 brennic-v6only.test\n"
    "::1 brennic-dual.test\n"
    "127.0.0.8 brennic-dual.test\n"
    "127.1.0.50 brennic-first-silent.test\n"
    "127.0.0.7 brennic-first-silent.test\n"
    "127.0.0.9 xn--zfru1ggxt.test\n" // 服务器.test
    "0.0.0.0 brennic-any.test\n";

inline QString &reason()
{
    static QString value;
    return value;
}

// A host in the dropped range.
inline QByteArray unreachableHost(int n)
{
    return QByteArray("127.1.") + QByteArray::number((n / 250) % 250) + '.' + QByteArray::number(n % 250 + 1);
}

namespace detail {

// Runs argv with input on its standard input; quiet drops its error output.
inline int run(const char *const argv[], const char *input, bool quiet = false)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
    if (quiet)
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char *const *>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[0]);
    if (spawned == 0 && input) {
        [[maybe_unused]] ssize_t written = ::write(pipeFds[1], input, std::strlen(input));
    }
    ::close(pipeFds[1]);
    if (spawned != 0)
        return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Puts text over the file at target, for this mount namespace only.
inline bool coverFile(const char *target, const std::string &text)
{
    char path[] = "/tmp/brennic-etc-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ::fchmod(fd, 0644);
    ::close(fd);
    const bool mounted = written && ::mount(path, target, nullptr, MS_BIND, nullptr) == 0;
    ::unlink(path);
    return mounted;
}

inline bool installHostsFile()
{
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    return coverFile("/etc/hosts", HostsFile)
        && coverFile("/etc/resolv.conf", std::string("nameserver ") + TestDnsServer + "\n");
}

} // namespace detail

// Call first thing in main().
inline void enter()
{
    if (!PrivateNetwork::Enter(&reason()))
        return;
    isPrivate() = true;
    hasTestNames() = detail::installHostsFile();
    const char *const nft[] = {"nft", "-f", "-", nullptr};
    const char *rules =
        "table inet brennic_reachability_test {\n"
        "  chain input { type filter hook input priority 0; policy accept;\n"
        "    ip daddr 127.1.0.0/16 counter drop\n"
        "    ip daddr 127.4.0.1 reject with icmp type host-unreachable\n"
        "    ip daddr 127.4.0.2 reject with icmp type admin-prohibited\n"
        "    ip daddr 127.4.0.3 reject with icmp type net-unreachable\n"
        "  }\n"
        "}\n";
    if (detail::run(nft, rules) == 0)
        canDropHosts() = true;
    else
        reason() = QStringLiteral("nft could not install the drop rule (is nftables installed?)");
    // Rewriting a packet's address takes more than a user namespace allows.
    const char *rewrite =
        "table inet brennic_reachability_rewrite {\n"
        "  chain output { type filter hook output priority 0; policy accept;\n"
        "    icmp type echo-reply ip saddr 127.3.0.0/16 ip saddr set 127.0.0.99\n"
        "  }\n"
        "}\n";
    canRewriteReplies() = detail::run(nft, rewrite, true) == 0;
}

} // namespace TestNetwork

#define REQUIRE_PRIVATE_NETWORK()                                                                             \
    do {                                                                                                      \
        if (!TestNetwork::isPrivate())                                                                        \
            QSKIP(qPrintable(QStringLiteral("needs a private network namespace: ") + TestNetwork::reason())); \
    } while (false)

#define REQUIRE_UNREACHABLE_HOSTS()                                                                                  \
    do {                                                                                                             \
        if (!TestNetwork::canDropHosts())                                                                            \
            QSKIP(qPrintable(QStringLiteral("needs a namespace with unreachable hosts: ") + TestNetwork::reason())); \
    } while (false)

#define REQUIRE_REWRITTEN_REPLIES()                                                            \
    do {                                                                                       \
        if (!TestNetwork::canRewriteReplies())                                                 \
            QSKIP("needs root in the test's namespace to rewrite the source of echo replies"); \
    } while (false)

#define REQUIRE_TEST_NAMES()                                                       \
    do {                                                                           \
        if (!TestNetwork::hasTestNames())                                          \
            QSKIP("needs a mount namespace of its own for the test's hosts file"); \
    } while (false)

#define BRENNIC_NETWORK_TEST_MAIN(TestObject)   \
    int main(int argc, char *argv[])            \
    {                                           \
        TestNetwork::enter();                   \
        QCoreApplication app(argc, argv);       \
        TestObject test;                        \
        return QTest::qExec(&test, argc, argv); \
    }
