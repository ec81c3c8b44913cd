#pragma once

#include <QString>
#include <optional>

// A server address as the user or a connection file writes it: a host name, a
// dotted IPv4 address or an IPv6 address in brackets, each optionally followed by
// ":port"; a bare IPv6 address without brackets is taken whole, without a port.
struct THostPort {
    QString Host;
    int Port = 0; // 0 when the text names no port
};

// The host and port of the text, trimmed; none when the text is no address: one
// that IsServerAddress refuses (empty, blanks or control characters inside, a
// leading "|" or "/"), characters no host name has, a port outside 1..65535.
std::optional<THostPort> ParseHostPort(const QString &text);
// The text to put back into such a file: IPv6 in brackets; ":port" only when the
// port differs from `defaultPort`.
QString FormatHostPort(const QString &host, int port, int defaultPort);
