#pragma once

// A TCP relay on 127.0.0.1 in front of a server: every client that connects to
// it is taken to the server, and the bytes the server sends are counted. For
// comparing clients on what they make the server send, each measured the same
// way. The relay's own CPU time can be read, to be taken out of the figures of
// the process it runs in.

#include <QFile>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

class CountingRelay {
public:
    explicit CountingRelay(int serverPort) : serverPort_(serverPort)
    {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = Loopback(0);
        socklen_t length = sizeof address;
        if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::listen(listen_, 16) != 0
            || ::getsockname(listen_, reinterpret_cast<sockaddr *>(&address), &length) != 0
            || ::pipe2(stop_, O_CLOEXEC) != 0)
            return;
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~CountingRelay()
    {
        if (thread_.joinable()) {
            const char byte = 0;
            (void)!::write(stop_[1], &byte, 1);
            thread_.join();
        }
        for (int fd : {listen_, stop_[0], stop_[1]})
            if (fd >= 0)
                ::close(fd);
    }
    CountingRelay(const CountingRelay &) = delete;
    CountingRelay &operator=(const CountingRelay &) = delete;

    // 0 when it could not listen.
    int Port() const { return port_; }
    // Bytes the server sent so far, to every client.
    uint64_t Received() const { return received_; }
    // CPU seconds of the relay's thread so far.
    double CpuSeconds() const
    {
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(tid_.load()));
        if (tid_ == 0 || !stat.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
    }

private:
    struct Pair {
        int client;
        int server;
    };

    static sockaddr_in Loopback(int port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(uint16_t(port));
        return address;
    }

    static bool WriteAll(int fd, const char *data, ssize_t size)
    {
        while (size > 0) {
            const ssize_t n = ::write(fd, data, size_t(size));
            if (n <= 0)
                return false;
            data += n;
            size -= n;
        }
        return true;
    }

    void Accept()
    {
        const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = Loopback(serverPort_);
        if (server < 0 || ::connect(server, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
            ::close(client);
            if (server >= 0)
                ::close(server);
            return;
        }
        pairs_.push_back({client, server});
    }

    // Passes what is waiting on from to to; false when either side has gone.
    bool Pass(int from, int to, bool count)
    {
        char buffer[65536];
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        if (count)
            received_ += uint64_t(n);
        return WriteAll(to, buffer, n);
    }

    void Run()
    {
        tid_ = pid_t(::syscall(SYS_gettid));
        for (;;) {
            std::vector<pollfd> fds{{stop_[0], POLLIN, 0}, {listen_, POLLIN, 0}};
            for (const Pair &p : pairs_) {
                fds.push_back({p.client, POLLIN, 0});
                fds.push_back({p.server, POLLIN, 0});
            }
            if (::poll(fds.data(), fds.size(), 1000) < 0)
                continue;
            if (fds[0].revents)
                break;
            std::vector<Pair> alive;
            for (size_t i = 0; i < (fds.size() - 2) / 2; ++i) {
                const Pair p = pairs_[i];
                const short fromClient = fds[2 + 2 * i].revents;
                const short fromServer = fds[3 + 2 * i].revents;
                bool ok = true;
                if (fromClient)
                    ok = Pass(p.client, p.server, false);
                if (ok && fromServer)
                    ok = Pass(p.server, p.client, true);
                if (ok) {
                    alive.push_back(p);
                } else {
                    ::close(p.client);
                    ::close(p.server);
                }
            }
            pairs_.swap(alive);
            if (fds[1].revents & POLLIN)
                Accept();
        }
        for (const Pair &p : pairs_) {
            ::close(p.client);
            ::close(p.server);
        }
    }

    int serverPort_;
    int port_ = 0;
    int listen_ = -1;
    int stop_[2] = {-1, -1};
    std::atomic<uint64_t> received_{0};
    std::atomic<pid_t> tid_{0};
    std::vector<Pair> pairs_;
    std::thread thread_;
};
