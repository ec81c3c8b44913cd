#pragma once

#include "Clock.h"
#include "EchoRequest.h"
#include "HostResolver.h"
#include "IcmpSocket.h"
#include "IpAddress.h"
#include "TimerLanes.h"

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

// One probe's outcome: -1 host not found, 0 no reply, 1 reply; with a reply,
// the round trip in microseconds (-1 otherwise).
struct PingResult {
    unsigned slot;
    unsigned generation;
    unsigned run;
    int iRet;
    qint64 latencyUs = -1;
};

// Counters of the loop, readable from any thread.
struct PingCounters {
    std::atomic<std::uint64_t> sent{0}; // echo requests and connection attempts
    std::atomic<std::uint64_t> answered{0};
    std::atomic<std::uint64_t> timedOut{0};
    std::atomic<std::uint64_t> failed{0}; // refused at once by the system
    std::atomic<std::uint64_t> notFound{0};
    std::atomic<std::uint64_t> stray{0};    // replies that matched no probe of ours
    std::atomic<std::uint64_t> deferred{0}; // connection attempts that waited for a descriptor
    std::atomic<std::uint64_t> lookUps{0};  // name look-ups started
    std::atomic<std::uint64_t> worstLatenessNs{0};
    // How late each probe left against its due time, in 0.1 ms steps; the
    // last bucket gathers everything from 200 ms on.
    static constexpr int Buckets = 2001;
    std::unique_ptr<std::atomic<std::uint32_t>[]> lateness = std::make_unique<std::atomic<std::uint32_t>[]>(Buckets); // zeroed
};

// The thread that sends every poller's probes: one socket per address family,
// epoll, and the time-out of the epoll wait as the timer. Each target is
// probed its wait after it is started and then its wait after each result.
// Commands come in through a queue that the loop is woken for; results leave
// in batches through the post function, at most every FlushMs. Names are
// looked up by the HostResolver on this same thread, without waiting for one.
//
// Where the TCP fallback probes, each attempt holds a descriptor until its
// answer or time-out. The loop keeps the attempts in flight within a budget
// taken from the process's descriptor limit, leaving the rest of the process
// room to open files; attempts beyond it wait their turn. Hosts that answered
// their last attempt, and hosts not tried yet, go first; a host that stayed
// silent waits behind them, and silent hosts hold at most SilentShare of the
// budget. When the budget is full and others wait, an attempt of the first
// kind that has gone unanswered for much longer than answering hosts take
// gives its descriptor up: its host counts as silent and is tried again, with
// the whole time-out, in the silent hosts' turn. A host is offline only after
// an attempt that ran its whole time-out. Every pass
// of the loop handles only what was due when it began, so it always comes
// back to the epoll wait, and so to its commands and its end. All its times
// are those of the clock it is given.
class PingLoop {
public:
    using Post = std::function<void(std::vector<PingResult> &&batch)>;
    static constexpr int TickMs = 5; // probes due within one tick leave together
    static constexpr int FlushMs = 20;
    // The part of the TCP budget that attempts to silent hosts may hold.
    static constexpr double SilentShare = 0.5;
    // An attempt of the first turn counts as slow after SlowFactor times as
    // long as answers take of late, and never before MinSlowMs.
    static constexpr int SlowFactor = 4;
    static constexpr int MinSlowMs = 10;
    // Commands a drained queue keeps room for; a longer burst's room is given back.
    static constexpr std::size_t KeptCommands = 64;

    PingLoop(std::unique_ptr<IcmpSocket> v4, std::unique_ptr<IcmpSocket> v6, Post deliver, Clock &clock = Clock::system());
    ~PingLoop(); // stops and joins the thread
    PingLoop(const PingLoop &) = delete;
    PingLoop &operator=(const PingLoop &) = delete;

    void start(unsigned slot, unsigned generation, unsigned run, const QByteArray &host, unsigned short port,
               Clock::duration wait, Clock::duration timeout);
    void stop(unsigned slot);

    const PingCounters &counters() const { return counters_; }
    // How many connection attempts may be in flight at once.
    long tcpBudget() const { return tcpBudget_; }

private:
    enum class State : std::uint8_t {
        Idle,
        Waiting,
        Resolving,
        Icmp,
        Queued,
        Tcp
    };
    // How a host took its last connection attempt.
    enum class Standing : std::uint8_t {
        Untried,
        Answered, // within its time-out
        Silent    // no answer before the attempt's end
    };
    struct Target {
        State state = State::Idle;
        Standing standing = Standing::Untried;
        bool silentTurn = false; // the attempt in flight is one of the silent hosts' turn
        bool isName = false;
        unsigned short port = 0;
        unsigned short sequence = 0;
        unsigned generation = 0;
        unsigned run = 0;
        unsigned serial = 0;
        int tcp = -1;
        Clock::duration wait{};
        Clock::duration timeout{};
        Clock::time_point tcpStarted{};
        Clock::time_point sentAt{}; // the echo request or connection attempt in flight
        QByteArray host;
        IpAddress address;
    };
    using Timed = TimerLanes::Entry;
    struct Command {
        enum class Kind {
            Start,
            Stop
        };
        Kind kind = Kind::Start;
        unsigned slot = 0;
        unsigned generation = 0;
        unsigned run = 0;
        unsigned short port = 0;
        Clock::duration wait{};
        Clock::duration timeout{};
        QByteArray host;
    };
    struct Family {
        std::unique_ptr<IcmpSocket> socket;
        std::vector<unsigned> owner; // sequence number -> slot + 1 of the probe waiting for it
        unsigned short nextSequence = 0;
        std::vector<std::pair<unsigned, unsigned>> queued; // slot and serial of each request not yet flushed
    };

    void post(Command &&command);
    void run();
    void apply(Command &command, Clock::time_point now);
    void cancel(Target &target);
    void begin(unsigned slot, Clock::time_point due, Clock::time_point now);
    void resolved(unsigned slot, unsigned serial, const std::optional<IpAddress> &address);
    void send(unsigned slot, Clock::time_point now);
    void sendTcp(unsigned slot, Clock::time_point now);
    bool connectTcp(unsigned slot, Clock::time_point now);
    void startQueuedTcp(Clock::time_point now);
    bool startFrom(std::deque<std::pair<unsigned, unsigned>> &queue, bool silent, Clock::time_point now);
    bool mayStartTcp(bool silent, Clock::time_point now) const;
    long silentBudget() const;
    void deferSlowTcp(Clock::time_point now);
    Clock::duration slowAfter() const;
    void closeTcp(Target &target);
    void receive(Family &family, Clock::time_point now);
    void finishTcp(unsigned slot, Clock::time_point now);
    void complete(unsigned slot, int iRet, Clock::time_point now);
    void wait(Target &target, unsigned slot, Clock::time_point now, Clock::duration after);
    void expire(Clock::time_point now);
    void sendDue(Clock::time_point now);
    // Whether this pass has sent long enough, or the loop is to end.
    bool passOver(Clock::time_point now) const;
    void flush(Clock::time_point now, bool force);
    void flushRequests(Family &family, Clock::time_point now);
    void flushRequests(Clock::time_point now);
    void arm(Clock::time_point now);
    bool valid(const Timed &entry, bool inFlight) const;
    void noteLateness(Clock::duration late);

    Clock &clock_;
    Family v4_;
    Family v6_;
    Post post_;
    std::uint64_t token_;
    QByteArray request_;
    int epoll_ = -1;
    int wake_ = -1;
    std::deque<Target> targets_; // by slot; grows without the spare room of a vector
    TimerLanes waiting_;
    TimerLanes timeouts_;
    std::vector<PingResult> results_;
    Clock::time_point lastFlush_{};
    std::optional<Clock::time_point> wakeAt_; // the next tick with work due
    Clock::time_point passEnd_{};             // when this pass stops sending
    PingCounters counters_;

    struct TcpFlight {
        unsigned slot;
        unsigned serial;
        Clock::time_point started;
    };
    long tcpBudget_ = 1;
    long tcpOpen_ = 0;
    long tcpSilentOpen_ = 0;                                   // attempts of the silent hosts' turn in flight
    std::deque<std::pair<unsigned, unsigned>> tcpQueue_;       // slot and serial, in turn: answered or untried hosts
    std::deque<std::pair<unsigned, unsigned>> tcpSilentQueue_; // the same, of silent hosts
    std::deque<TcpFlight> tcpFlight_;                          // attempts of the first turn, in the order they started
    Clock::duration tcpTypicalAnswer_{};                       // the moving average of answers' times
    Clock::time_point tcpPausedUntil_{};                       // after the system had no descriptor to spare

    std::mutex mutex_;
    std::vector<Command> commands_;
    std::atomic<bool> quit_{false};
    bool woken_ = false;

    std::unique_ptr<HostResolver> resolver_;
    std::unique_ptr<Clock::Sleeper> sleeper_;
    std::thread thread_;
};
