#pragma once

#include "Clock.h"
#include "IpAddress.h"

#include <QByteArray>
#include <QHash>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

struct ares_addrinfo;
struct ares_channeldata;

// Name look-ups for an epoll loop that must never wait for one: the ping loop's,
// and the sessions' relay loop (each has its own resolver). Every look-up
// runs at the same time as all others on the loop's own thread (c-ares, its
// sockets watched by the loop's epoll), so a name whose server is slow holds up
// no other name. Answers are kept for their time to live (within MinTtl and
// MaxTtl): a name is looked up again on that schedule, not for every probe, and
// all rows with the same name share one look-up. While a name is looked up
// again, its last answer goes on being used. A change of the system's resolver
// configuration (another network, another name server) is taken up within
// ConfigCheckEvery, look-ups that run at that moment included: they start again
// with the new name servers, and names that were not found are asked again.
// A look-up's time-out runs on the given clock. Used by the loop's thread only.
class HostResolver {
public:
    // Called for each probe that waited for a name's first answer.
    using Done = std::function<void(unsigned slot, unsigned serial, const std::optional<IpAddress> &address)>;

    static constexpr auto MinTtl = std::chrono::seconds(5);
    static constexpr auto MaxTtl = std::chrono::hours(1);
    // How long a server that does not answer is waited for, all tries together.
    static constexpr int LookUpTimeoutMs = 3000;
    static constexpr auto ConfigCheckEvery = std::chrono::seconds(1);

    // epoll: the loop's epoll set, to which the resolver adds its sockets with
    // tag in the top byte of the event data (TagShift bits up) and the
    // descriptor below.
    HostResolver(int epoll, std::uint64_t tag, int tagShift, Done done, Clock &clock = Clock::system());
    ~HostResolver(); // cancels every look-up; Done is not called for them
    HostResolver(const HostResolver &) = delete;
    HostResolver &operator=(const HostResolver &) = delete;

    enum class Answer {
        Known,
        NotFound,
        Pending
    };
    struct Lookup {
        Answer answer = Answer::Pending;
        IpAddress address;
    };
    // Whether a "not found" whose time is up still answers while the name is
    // looked up again, or the caller waits for the new answer.
    enum class NotFoundDue {
        Use,
        Wait
    };
    // The name's address if one is known (refreshing it in the background when
    // its time is up); otherwise starts or joins the name's look-up, and Done
    // reports it for (slot, serial).
    Lookup find(const QByteArray &host, unsigned slot, unsigned serial, Clock::time_point now,
                NotFoundDue notFoundDue = NotFoundDue::Use);
    // Every address of the name's last answer, in the order it gave them (for
    // a caller that tries the next when one does not answer); empty if none.
    std::vector<IpAddress> addresses(const QByteArray &host) const;

    // An epoll event on one of the resolver's sockets.
    void process(int fd, std::uint32_t events);
    // Handles look-ups whose time is up, and a new configuration; call after every wake.
    void processTimeouts(Clock::time_point now);
    // When processTimeouts() has work next, if any look-up runs.
    std::optional<Clock::time_point> nextTimeout(Clock::time_point now) const;
    // The resolver library's own timers run in real time: wake for them
    // within this, if any of its queries runs.
    std::optional<Clock::duration> libraryTimeout() const;

    bool usable() const { return channel_ != nullptr; }
    std::uint64_t lookUps() const { return lookUps_; }

private:
    struct Entry {
        std::optional<IpAddress> address;
        std::vector<IpAddress> all; // the answer's addresses, address among them
        bool known = false;
        bool inFlight = false;
        unsigned lookUp = 0; // the serial of the running look-up
        Clock::time_point expires{};
        Clock::time_point lastUsed{};
        std::vector<std::pair<unsigned, unsigned>> waiters; // slot, serial
    };
    struct Query {
        HostResolver *resolver;
        QByteArray host;
        unsigned lookUp;
    };
    struct Deadline {
        Clock::time_point at;
        QByteArray host;
        unsigned lookUp;
    };
    static void answered(void *query, int status, int timeouts, ares_addrinfo *result);
    static void socketChanged(void *resolver, int fd, int readable, int writable);
    void open();
    void reopenIfConfigChanged(Clock::time_point now);
    void start(const QByteArray &host, Entry &entry, Clock::time_point now);
    void settle(const QByteArray &host, unsigned lookUp, int status, ares_addrinfo *result);
    void expire(Clock::time_point now);
    void sweep(Clock::time_point now);

    Clock &clock_;
    int epoll_;
    std::uint64_t tag_;
    int tagShift_;
    Done done_;
    ares_channeldata *channel_ = nullptr;
    QHash<QByteArray, Entry> entries_;
    int running_ = 0;     // look-ups waited for
    int outstanding_ = 0; // queries the library holds, some no longer waited for
    unsigned nextLookUp_ = 0;
    std::deque<Deadline> deadlines_; // in the order they fall
    std::uint64_t lookUps_ = 0;
    Clock::time_point lastSweep_{};
    Clock::time_point lastConfigCheck_{};
    QByteArray config_; // what the resolver's configuration file was when the channel was made
};
