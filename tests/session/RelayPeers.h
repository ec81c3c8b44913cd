#pragma once

// The two ends a relay joins, for tests that drive relays without the RDP
// library: a TCP server on loopback that echoes what it gets (or, silent,
// takes connections and never says a word), and the library's side, a client
// of the relay's local socket that sends the proxy request and then bytes.

#include <QByteArray>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

class EchoServer {
public:
    explicit EchoServer(bool silent = false, const char *address = "127.0.0.1") : silent_(silent)
    {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, address, &local.sin_addr);
        socklen_t length = sizeof local;
        if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr *>(&local), length) != 0 || ::listen(listen_, 16) != 0
            || ::getsockname(listen_, reinterpret_cast<sockaddr *>(&local), &length) != 0)
            return;
        port_ = ntohs(local.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~EchoServer()
    {
        quit_ = true;
        if (thread_.joinable())
            thread_.join();
        for (int fd : clients_)
            ::close(fd);
        if (listen_ >= 0)
            ::close(listen_);
    }
    EchoServer(const EchoServer &) = delete;
    EchoServer &operator=(const EchoServer &) = delete;

    int Port() const { return port_; }
    int Accepted() const { return accepted_; }

private:
    void Serve()
    {
        // Bounded by the owner: it ends within 20 ms of the destructor.
        std::vector<char> buffer(64 * 1024);
        while (!quit_) {
            std::vector<pollfd> watched{{listen_, POLLIN, 0}};
            for (int fd : clients_)
                watched.push_back({fd, short(silent_ ? 0 : POLLIN), 0});
            if (::poll(watched.data(), nfds_t(watched.size()), 20) <= 0)
                continue;
            if (watched[0].revents & POLLIN) {
                const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    clients_.push_back(fd);
                    ++accepted_;
                }
            }
            for (size_t i = 1; i < watched.size(); ++i) {
                if (!(watched[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const ssize_t n = ::recv(watched[i].fd, buffer.data(), buffer.size(), 0);
                // Blocking writes: the other end reads all it sends.
                if (n > 0 && ::send(watched[i].fd, buffer.data(), size_t(n), MSG_NOSIGNAL) == n)
                    continue;
                ::shutdown(watched[i].fd, SHUT_RDWR);
                std::erase(clients_, watched[i].fd);
                ::close(watched[i].fd);
            }
        }
    }

    bool silent_;
    int listen_ = -1;
    int port_ = 0;
    std::vector<int> clients_; // the server thread's own
    std::atomic<int> accepted_{0};
    std::atomic<bool> quit_{false};
    std::thread thread_;
};

// The library's side of one relay connection.
class RelayClient {
public:
    explicit RelayClient(const QByteArray &socketPath)
    {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
        connected_ = fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    ~RelayClient()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RelayClient(const RelayClient &) = delete;
    RelayClient &operator=(const RelayClient &) = delete;

    // Sends "CONNECT target HTTP/1.1".
    bool Ask(const QByteArray &target)
    {
        const QByteArray request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n";
        return connected_ && ::send(fd_, request.constData(), size_t(request.size()), MSG_NOSIGNAL) == request.size();
    }

    // The relay's reply up to its empty line; empty when it closed or said
    // nothing within the time.
    QByteArray Reply(int ms)
    {
        QByteArray reply;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!reply.contains("\r\n\r\n")) {
            char byte = 0;
            const ssize_t n = ::recv(fd_, &byte, 1, 0); // byte by byte: nothing past the reply is taken
            if (n == 1) {
                reply.append(byte);
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR) || !Wait(POLLIN, end))
                return QByteArray();
        }
        return reply;
    }

    // Sends size bytes and reads them back through an echo server, both at
    // once; true when all came back unchanged within the time.
    bool Echo(int size, int ms, unsigned pattern = 1)
    {
        QByteArray sent(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            sent[i] = char((i * 131 + pattern * 7) >> 3);
        QByteArray got;
        qsizetype offset = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        char buffer[65536];
        while (got.size() < size) {
            if (offset < size) {
                const ssize_t n = ::send(fd_, sent.constData() + offset, size_t(size - offset), MSG_NOSIGNAL);
                if (n > 0)
                    offset += n;
                else if (n < 0 && errno != EAGAIN)
                    return false;
            }
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n > 0)
                got.append(buffer, n);
            else if (n == 0 || errno != EAGAIN)
                return false;
            else if (!Wait(short(POLLIN | (offset < size ? POLLOUT : 0)), end))
                return false;
        }
        return got == sent;
    }

    // True when the relay closes the connection within the time.
    bool Closed(int ms)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            char buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                return true;
            if (n < 0 && !Wait(POLLIN, end))
                return false;
        }
    }

private:
    bool Wait(short events, std::chrono::steady_clock::time_point end)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        pollfd p{fd_, events, 0};
        return left > 0 && ::poll(&p, 1, int(left)) > 0;
    }

    int fd_ = -1;
    bool connected_ = false;
};
