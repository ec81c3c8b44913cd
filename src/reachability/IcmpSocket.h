#pragma once

#include "IpAddress.h"

#include <QString>

#include <memory>

// One non-blocking ICMP echo socket of one address family: the platform's part
// of the probes. Another platform's backend implements this header in a file
// of its own.
class IcmpSocket {
public:
    enum class Kind {
        Datagram,
        Raw
    };

    struct Reply {
        IpAddress from;
        unsigned short id = 0;
        unsigned short sequence = 0;
        const unsigned char *data = nullptr; // the echoed request data, valid until the next receive
        int size = 0;
    };
    enum class Read {
        Reply,
        Other,
        Empty
    };

    // An unprivileged datagram socket first; a raw one, filtered to echo
    // replies, when that is refused. Null when neither can be opened, with the
    // system's reason in *why.
    static std::unique_ptr<IcmpSocket> open(int family, QString *why);
    ~IcmpSocket();
    IcmpSocket(const IcmpSocket &) = delete;
    IcmpSocket &operator=(const IcmpSocket &) = delete;

    int handle() const { return fd_; }
    Kind kind() const { return kind_; }
    int family() const { return family_; }
    // The echo id of this socket's requests. A datagram socket's id is set by
    // the kernel, which hands the socket only its own replies; a raw socket sees
    // every echo reply of the machine and must compare the id itself.
    unsigned short echoId() const { return id_; }
    bool repliesNeedIdCheck() const { return kind_ == Kind::Raw; }

    // Sends one echo request; 0 or the errno of the failure.
    int send(const IpAddress &to, unsigned short sequence, const unsigned char *data, int size);

    // Requests to many hosts leave in batches: queue up to BatchSize of them,
    // then flush(), which returns for each queued request, in order, 0 or the
    // errno of its failure (valid until the next queue()).
    static constexpr int BatchSize = 64;
    int queued() const;
    void queue(const IpAddress &to, unsigned short sequence, const unsigned char *data, int size);
    const int *flush();

    // Reads one waiting packet without blocking (the system is asked for
    // several at a time).
    Read receive(Reply &reply);

private:
    struct Batches;
    IcmpSocket(int fd, Kind kind, int family, unsigned short id);
    int buildRequest(unsigned char *message, unsigned short sequence, const unsigned char *data, int size) const;
    Read parse(const unsigned char *packet, int size, const void *from, Reply &reply) const;

    int fd_;
    Kind kind_;
    int family_;
    unsigned short id_;
    std::unique_ptr<Batches> batches_;
};
