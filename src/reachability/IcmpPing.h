#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class Clock;
class IcmpSocket;

// The ICMP echo probe: resolves a host, sends it one echo request and waits up
// to three seconds for the answer. A call blocks its thread; one probe is used
// by one thread at a time. The status pollers do not block on it: they share
// the event-driven PingEngine. The three seconds are those of the clock given.
class TPing {
public:
    // Opens the probe's ICMP socket. Throws AppError, naming the cause and the
    // cure, when the system allows no ICMP socket to this user.
    TPing();
    explicit TPing(Clock &clock);
    ~TPing();
    TPing(const TPing &) = delete;
    TPing &operator=(const TPing &) = delete;

    // aHostStr: a host name, a dotted IPv4 address or an IPv6 address.
    // Returns -1 when the host is not found (aRev "找不到主机"; aIP and aRetTime
    // untouched), 0 when no reply came within 3000 ms (aRev "服务器连接中断"),
    // otherwise the number of replies, 1 (aRev "Reply from server"). Unless the
    // host was not found, aIP receives the replying address ("0.0.0.0" without
    // a reply) and aRetTime the round-trip time in milliseconds (0 without one).
    int PingHost(const QByteArray &aHostStr, QString &aRev, QString &aIP, int &aRetTime);

    // Why no ICMP socket could be opened, in the user's words, with the cure.
    static QString unavailableText(const QString &cause);

private:
    IcmpSocket *socketFor(int family);

    Clock &clock_;
    int wake_ = -1; // an eventfd: the clock's moving on ends a wait
    std::unique_ptr<IcmpSocket> v4_;
    std::unique_ptr<IcmpSocket> v6_;
    unsigned short sequence_ = 0;
};
