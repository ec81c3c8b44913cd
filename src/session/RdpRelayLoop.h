#pragma once

#include "HostResolver.h"
#include "IpAddress.h"
#include "RdpRelayState.h"

#include <QByteArray>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

class RdpRelayChannel;

// The one thread that serves the relays of every session of the process: one
// epoll loop over their listening sockets and connections, with the names the
// connections ask for looked up by a HostResolver on the same thread, so that
// no relay needs a thread of its own, nor a name look-up one. It starts with
// the first relay and ends when the last one goes (Shared() hands out shares).
//
// Other threads talk to it only through commands (Add, Cancel, Remove, Wake),
// queued under a lock and announced on an eventfd; what else a relay and its
// owner share are the atomics of its RdpRelayState. Everything else here is the
// loop thread's own.
class RdpRelayLoop {
public:
    // The process's loop, started if none runs; null if it cannot be.
    static std::shared_ptr<RdpRelayLoop> Shared();
    ~RdpRelayLoop(); // stops the loop; every relay is gone by then
    RdpRelayLoop(const RdpRelayLoop &) = delete;
    RdpRelayLoop &operator=(const RdpRelayLoop &) = delete;

    // From any thread. Add hands the loop a listening socket to serve (closed
    // by the loop) and returns the relay's number for the other commands.
    std::uint64_t Add(int listenFd, std::shared_ptr<RdpRelayState> state);
    void Cancel(std::uint64_t relay);
    // Returns once the loop has dropped the relay and closed all it had.
    void Remove(std::uint64_t relay);
    // The relay's time limits changed: the loop looks at them again.
    void Wake();

    // For the relays, on the loop thread. Watch with events 0 stops watching.
    void Watch(int fd, std::uint32_t events, std::uint64_t relay);
    // The addresses of a name (empty: not found), now, or later through the
    // relay's Resolved(); false when the answer is to come.
    bool Resolve(const QByteArray &host, std::uint64_t relay, std::vector<IpAddress> &addresses);

private:
    RdpRelayLoop();
    // Without a usable resolver (no configuration) names are not found, and
    // addresses still served.
    bool Ready() const { return epoll_ >= 0 && wake_ >= 0 && resolver_; }
    void Post(std::function<void()> command);
    void Run();
    void RunCommands();
    void Dispatch(std::uint64_t data, std::uint32_t events);
    void Answered(unsigned slot, const std::optional<IpAddress> &address);
    std::vector<IpAddress> AddressesOf(const QByteArray &host, const std::optional<IpAddress> &address) const;
    void DeliverAnswers();
    void Expire();
    int WaitMs() const;
    RdpRelayChannel *Find(std::uint64_t relay) const;

    int epoll_ = -1;
    int wake_ = -1;
    std::unique_ptr<HostResolver> resolver_;
    std::map<std::uint64_t, std::unique_ptr<RdpRelayChannel>> relays_;
    struct Watched {
        std::uint64_t relay;
        std::uint32_t events;
    };
    std::unordered_map<int, Watched> watched_;
    struct Asked {
        std::uint64_t relay;
        QByteArray host;
    };
    std::unordered_map<unsigned, Asked> asked_;                          // look-ups waited for, by slot
    std::vector<std::pair<unsigned, std::optional<IpAddress>>> answers_; // to hand on
    unsigned nextSlot_ = 0;

    std::mutex lock_; // guards commands_, quit_ and nextRelay_
    std::deque<std::function<void()>> commands_;
    bool quit_ = false;
    std::uint64_t nextRelay_ = 0;
    std::thread thread_;
};
