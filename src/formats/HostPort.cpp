#include "HostPort.h"

#include "ServerAddress.h"

#include <arpa/inet.h>

namespace {

bool isIpv6(const QString &host)
{
    in6_addr address{};
    return inet_pton(AF_INET6, host.toLatin1().constData(), &address) == 1;
}

bool isHostNameChar(QChar c)
{
    // Letters of any script (internationalised names), digits, '-', '.' and '_'.
    return c.isLetterOrNumber() || c == u'-' || c == u'.' || c == u'_';
}

bool isHostName(const QString &host)
{
    if (host.isEmpty() || host.size() > 253 || host.startsWith(u'.') || host.startsWith(u'-'))
        return false;
    for (const QChar c : host)
        if (!isHostNameChar(c))
            return false;
    return true;
}

std::optional<int> parsePort(const QString &text)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!ok || port < 1 || port > 65535 || text.startsWith(u'+'))
        return std::nullopt;
    return port;
}

} // namespace

std::optional<THostPort> ParseHostPort(const QString &text)
{
    const QString t = text.trimmed();
    // The check every address passes wherever it comes in, then this form's own.
    if (!IsServerAddress(t))
        return std::nullopt;
    if (t.startsWith(u'[')) {
        const qsizetype close = t.indexOf(u']');
        if (close < 0)
            return std::nullopt;
        const QString host = t.mid(1, close - 1);
        if (!isIpv6(host))
            return std::nullopt;
        const QString rest = t.mid(close + 1);
        if (rest.isEmpty())
            return THostPort{host, 0};
        if (!rest.startsWith(u':'))
            return std::nullopt;
        const auto port = parsePort(rest.mid(1));
        if (!port)
            return std::nullopt;
        return THostPort{host, *port};
    }
    if (t.count(u':') > 1) {
        if (!isIpv6(t))
            return std::nullopt;
        return THostPort{t, 0};
    }
    const qsizetype colon = t.indexOf(u':');
    const QString host = colon < 0 ? t : t.left(colon);
    if (!isHostName(host))
        return std::nullopt;
    if (colon < 0)
        return THostPort{host, 0};
    const auto port = parsePort(t.mid(colon + 1));
    if (!port)
        return std::nullopt;
    return THostPort{host, *port};
}

QString FormatHostPort(const QString &host, int port, int defaultPort)
{
    const bool ipv6 = host.contains(u':');
    if (port == defaultPort || port <= 0)
        return ipv6 ? QStringLiteral("[%1]").arg(host) : host;
    return (ipv6 ? QStringLiteral("[%1]").arg(host) : host) + u':' + QString::number(port);
}
