#pragma once

#include "IpAddress.h"
#include "RdpRelayState.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class RdpRelayLoop;
class RdpRelayPump;

// One relay on the relays' loop: its listening socket and the one connection
// it serves at a time, from the library's proxy request through the name's
// look-up and the connection to the server to the bytes passed both ways.
// Nothing here waits: each step starts what it needs and returns, and the loop
// calls back with the socket's event, the name's answer or the time. Only this
// program may use the relay: the peer's process is checked.
class RdpRelayChannel {
public:
    RdpRelayChannel(RdpRelayLoop &loop, std::uint64_t id, int listenFd, std::shared_ptr<RdpRelayState> state);
    ~RdpRelayChannel(); // closes all it has
    RdpRelayChannel(const RdpRelayChannel &) = delete;
    RdpRelayChannel &operator=(const RdpRelayChannel &) = delete;

    void Handle(int fd, std::uint32_t events);
    // The name's addresses; empty when it was not found.
    void Resolved(const std::vector<IpAddress> &addresses);
    // Cuts the connection and refuses new ones.
    void Cancel();
    // When Expire() has work next (steady-clock milliseconds), if ever.
    std::optional<qint64> Deadline() const;
    void Expire(qint64 now);

private:
    enum class Phase {
        Idle,       // waiting for the library
        Request,    // reading its request
        Lookup,     // the server's name is being looked up
        Connecting, // to one of the server's addresses
        Pumping     // connected: bytes both ways
    };
    void Accept();
    void ReadRequest();
    void Connect(std::vector<IpAddress> addresses);
    void TryNextAddress();
    void Connected();
    void ConnectFailed(int error);
    void Pump(std::uint32_t clientEvents, std::uint32_t serverEvents);
    void Refuse();
    void EndConnection();
    void WatchListener();
    void Close(int &fd);

    RdpRelayLoop &loop_;
    const std::uint64_t id_;
    const std::shared_ptr<RdpRelayState> state_;
    int listenFd_;
    int client_ = -1;
    int server_ = -1;
    Phase phase_ = Phase::Idle;
    QByteArray request_;
    int port_ = 0;
    std::vector<IpAddress> addresses_;
    std::size_t nextAddress_ = 0;
    qint64 addressEnd_ = 0; // when the address being tried gives way to the next; 0: the last
    std::unique_ptr<RdpRelayPump> pump_;
    bool serverEnded_ = false; // told as the link's end
};
