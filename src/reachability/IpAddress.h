#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>
#include <vector>

struct sockaddr;
struct sockaddr_storage;

// An IPv4 or IPv6 address as the probes use it: the family, the address bytes in
// network order and, for IPv6 link-local addresses, the scope (interface index).
struct IpAddress {
    int family = 0; // AF_INET, AF_INET6, or 0 for none
    std::array<unsigned char, 16> bytes{};
    unsigned scopeId = 0;

    bool isValid() const { return family != 0; }
    bool isV6() const;
    QString toString() const; // dotted decimal, or the usual IPv6 text
    bool operator==(const IpAddress &) const = default;

    static IpAddress fromSockaddr(const sockaddr *address);
    // Fills a socket address for this address and port; returns its length.
    unsigned toSockaddr(sockaddr_storage &out, quint16 port = 0) const;

    // A literal address, parsed without any name lookup: IPv4 in every form
    // inet_aton accepts, or IPv6 (also in brackets, with a %scope). No server
    // has the all-ones address 255.255.255.255 (no address here, as with
    // inet_addr) or the unspecified address 0.0.0.0 or :: (which the system
    // takes for this machine itself): they are no address either.
    static std::optional<IpAddress> parseLiteral(const QByteArray &host);
    // Whether host is written as an address, be it one a server can have or not.
    static bool isLiteral(const QByteArray &host);
    // The all-ones address, or the unspecified address of either family.
    bool isNoServer() const;
    // A literal, else the first IPv4 address of the name, else its first IPv6
    // address. Blocks for the name lookup. Empty when the host is not found.
    static std::optional<IpAddress> resolve(const QByteArray &host);
    // The address a name stands for, of those a look-up gave in their order:
    // the first IPv4 address, else the first IPv6 address. Empty when there is
    // none, or when the one chosen is no server's (isNoServer()).
    static std::optional<IpAddress> choose(const std::vector<IpAddress> &addresses);
    // Whether host may be looked up as a name at all (not empty, no zero byte,
    // not written as an address).
    static bool canBeName(const QByteArray &host);
};
