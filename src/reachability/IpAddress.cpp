#include "IpAddress.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>
#include <vector>

bool IpAddress::isV6() const
{
    return family == AF_INET6;
}

QString IpAddress::toString() const
{
    char text[INET6_ADDRSTRLEN + IF_NAMESIZE + 2] = {};
    if (family == AF_INET) {
        inet_ntop(AF_INET, bytes.data(), text, sizeof text);
        return QString::fromLatin1(text);
    }
    if (family == AF_INET6) {
        inet_ntop(AF_INET6, bytes.data(), text, sizeof text);
        QString result = QString::fromLatin1(text);
        char name[IF_NAMESIZE] = {};
        if (scopeId != 0 && if_indextoname(scopeId, name))
            result += QLatin1Char('%') + QString::fromLatin1(name);
        return result;
    }
    return QString();
}

IpAddress IpAddress::fromSockaddr(const sockaddr *address)
{
    IpAddress result;
    if (address->sa_family == AF_INET) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(address);
        result.family = AF_INET;
        std::memcpy(result.bytes.data(), &in->sin_addr, 4);
    } else if (address->sa_family == AF_INET6) {
        const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(address);
        result.family = AF_INET6;
        std::memcpy(result.bytes.data(), &in6->sin6_addr, 16);
        result.scopeId = in6->sin6_scope_id;
    }
    return result;
}

unsigned IpAddress::toSockaddr(sockaddr_storage &out, quint16 port) const
{
    std::memset(&out, 0, sizeof out);
    if (family == AF_INET) {
        auto *in = reinterpret_cast<sockaddr_in *>(&out);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        std::memcpy(&in->sin_addr, bytes.data(), 4);
        return sizeof(sockaddr_in);
    }
    if (family == AF_INET6) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&out);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        std::memcpy(&in6->sin6_addr, bytes.data(), 16);
        in6->sin6_scope_id = scopeId;
        return sizeof(sockaddr_in6);
    }
    return 0;
}

namespace {

struct AddrInfoFree {
    void operator()(addrinfo *list) const { freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoFree>;

AddrInfoList lookUp(const QByteArray &host, int flags)
{
    addrinfo hints{};
    hints.ai_family = 0; // any family
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = flags;
    addrinfo *list = nullptr;
    if (getaddrinfo(host.constData(), nullptr, &hints, &list) != 0)
        return AddrInfoList();
    return AddrInfoList(list);
}

// Any literal address, the ones no server has included.
std::optional<IpAddress> parseAny(const QByteArray &host)
{
    in_addr v4{};
    if (inet_aton(host.constData(), &v4) != 0) {
        IpAddress result;
        result.family = AF_INET;
        std::memcpy(result.bytes.data(), &v4, 4);
        return result;
    }
    QByteArray text = host;
    if (text.startsWith('[') && text.endsWith(']'))
        text = text.mid(1, text.size() - 2);
    if (!text.contains(':'))
        return std::nullopt;
    AddrInfoList list = lookUp(text, AI_NUMERICHOST);
    for (const addrinfo *entry = list.get(); entry; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET6)
            return IpAddress::fromSockaddr(entry->ai_addr);
    }
    return std::nullopt;
}

} // namespace

std::optional<IpAddress> IpAddress::parseLiteral(const QByteArray &host)
{
    if (host.isEmpty() || host.contains('\0'))
        return std::nullopt;
    std::optional<IpAddress> address = parseAny(host);
    if (address && address->isNoServer())
        return std::nullopt;
    return address;
}

bool IpAddress::isLiteral(const QByteArray &host)
{
    return !host.isEmpty() && !host.contains('\0') && parseAny(host).has_value();
}

bool IpAddress::isNoServer() const
{
    static constexpr std::array<unsigned char, 16> zero{};
    if (family == AF_INET)
        return std::memcmp(bytes.data(), "\xff\xff\xff\xff", 4) == 0 || std::memcmp(bytes.data(), zero.data(), 4) == 0;
    return family == AF_INET6 && bytes == zero;
}

std::optional<IpAddress> IpAddress::choose(const std::vector<IpAddress> &addresses)
{
    const IpAddress *chosen = nullptr;
    for (const IpAddress &address : addresses) {
        if (address.family == AF_INET) {
            chosen = &address;
            break;
        }
        if (address.family == AF_INET6 && !chosen)
            chosen = &address;
    }
    if (!chosen || chosen->isNoServer())
        return std::nullopt;
    return *chosen;
}

bool IpAddress::canBeName(const QByteArray &host)
{
    return !host.isEmpty() && !host.contains('\0') && !isLiteral(host);
}

std::optional<IpAddress> IpAddress::resolve(const QByteArray &host)
{
    if (std::optional<IpAddress> literal = parseLiteral(host))
        return literal;
    if (!canBeName(host))
        return std::nullopt;
    AddrInfoList list = lookUp(host, 0);
    std::vector<IpAddress> addresses;
    for (const addrinfo *entry = list.get(); entry; entry = entry->ai_next)
        addresses.push_back(fromSockaddr(entry->ai_addr));
    return choose(addresses);
}
