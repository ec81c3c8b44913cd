#pragma once

// A tiny DNS server for the tests, on UDP port 53 of TestNetwork::TestDnsServer
// (or another loopback address) inside the test's own namespace (where the
// test's resolver configuration points): names it is told about get an A record with the given time to
// live, names it is told to ignore get no answer at all, every other name is
// answered "no such name". It counts the questions for each name.

#include "TestNetwork.h"

#include <QByteArray>
#include <QHash>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

class TestDns {
public:
    explicit TestDns(const char *listenOn = TestNetwork::TestDnsServer)
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(53);
        inet_pton(AF_INET, listenOn, &address.sin_addr);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            return;
        listening_ = true;
        thread_ = std::thread([this] { serve(); });
    }
    ~TestDns()
    {
        quit_ = true;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            ::close(fd_);
    }
    TestDns(const TestDns &) = delete;
    TestDns &operator=(const TestDns &) = delete;

    bool listening() const { return listening_; }

    void answer(const QByteArray &name, const QByteArray &ipv4, int ttl)
    {
        std::lock_guard lock(mutex_);
        names_[name.toLower()] = Record{ipv4, ttl, false};
    }
    void neverAnswer(const QByteArray &name)
    {
        std::lock_guard lock(mutex_);
        names_[name.toLower()] = Record{QByteArray(), 0, true};
    }
    // Questions for the name's IPv4 address so far.
    int questions(const QByteArray &name) const
    {
        std::lock_guard lock(mutex_);
        return asked_.value(name.toLower());
    }

private:
    struct Record {
        QByteArray ipv4;
        int ttl = 0;
        bool silent = false;
    };

    void serve()
    {
        // Bounded by the owner: it ends within 50 ms of the destructor.
        while (!quit_) {
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0)
                continue;
            unsigned char packet[512];
            sockaddr_storage from{};
            socklen_t fromLength = sizeof from;
            const ssize_t size = ::recvfrom(fd_, packet, sizeof packet, 0, reinterpret_cast<sockaddr *>(&from), &fromLength);
            if (size < 12)
                continue;
            unsigned char reply[512];
            const int length = respond(packet, int(size), reply);
            if (length > 0)
                ::sendto(fd_, reply, length, 0, reinterpret_cast<sockaddr *>(&from), fromLength);
        }
    }

    // The reply to one question, or 0 for none.
    int respond(const unsigned char *query, int size, unsigned char *reply)
    {
        QByteArray name;
        int at = 12;
        while (at < size && query[at] != 0) {
            const int label = query[at];
            if (label > 63 || at + 1 + label >= size)
                return 0;
            if (!name.isEmpty())
                name += '.';
            name += QByteArray(reinterpret_cast<const char *>(query + at + 1), label).toLower();
            at += 1 + label;
        }
        if (at + 5 > size)
            return 0;
        const int questionEnd = at + 5;
        const int type = (query[at + 1] << 8) | query[at + 2];
        Record record;
        bool known = false;
        {
            std::lock_guard lock(mutex_);
            if (type == 1)
                ++asked_[name];
            known = names_.contains(name);
            if (known)
                record = names_.value(name);
        }
        if (known && record.silent)
            return 0;
        std::memcpy(reply, query, questionEnd);
        reply[2] = 0x80 | (query[2] & 0x01); // a response; recursion as asked
        reply[3] = 0x80 | (known ? 0 : 3);   // recursion available; no error or no such name
        reply[4] = 0, reply[5] = 1;          // one question
        reply[6] = reply[7] = reply[8] = reply[9] = reply[10] = reply[11] = 0;
        int length = questionEnd;
        if (known && type == 1) {
            reply[7] = 1; // one answer
            const unsigned char answer[] = {0xc0, 12, 0, 1, 0, 1,
                                            static_cast<unsigned char>(record.ttl >> 24), static_cast<unsigned char>(record.ttl >> 16),
                                            static_cast<unsigned char>(record.ttl >> 8), static_cast<unsigned char>(record.ttl), 0, 4};
            std::memcpy(reply + length, answer, sizeof answer);
            length += sizeof answer;
            inet_pton(AF_INET, record.ipv4.constData(), reply + length);
            length += 4;
        }
        return length;
    }

    int fd_ = -1;
    bool listening_ = false;
    std::atomic<bool> quit_{false};
    mutable std::mutex mutex_;
    QHash<QByteArray, Record> names_;
    QHash<QByteArray, int> asked_;
    std::thread thread_;
};
