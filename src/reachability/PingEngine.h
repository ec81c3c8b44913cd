#pragma once

#include "EchoRequest.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class Clock;
class IcmpSocket;
class PingLoop;
struct PingResult;

// A poller's cycle: the wait before each probe, and how long a probe waits for
// its answer.
struct PingTiming {
    std::chrono::milliseconds wait{EchoRequest::WaitMs};
    std::chrono::milliseconds timeout{EchoRequest::TimeoutMs};
};

// Who receives a target's results, on the GUI thread.
class PingClient {
public:
    // latencyUs: the round trip of a reply in microseconds; -1 without one.
    virtual void pingResult(int iRet, qint64 latencyUs) = 0;

protected:
    ~PingClient() = default;
};

// The probing shared by all status pollers. The object lives on the GUI thread;
// its loop runs on one thread of its own and hands back each batch of results
// through a queued call, so clients are only ever called on the GUI thread.
class PingEngine : public QObject {
    Q_OBJECT
public:
    enum class Method {
        Auto,    // ICMP echo where the system allows a socket, else a TCP connection attempt
        TcpOnly, // TCP connection attempts only
    };
    // Opens the ICMP socket of an address family, or gives null and, where why
    // is given, the system's reason. By default IcmpSocket::open.
    using SocketFactory = std::function<std::unique_ptr<IcmpSocket>(int family, QString *why)>;
    using Timing = PingTiming;
    struct Handle {
        unsigned slot = 0;
        unsigned generation = 0;
        bool isValid() const { return generation != 0; }
    };
    struct Statistics {
        std::uint64_t sent = 0;
        std::uint64_t answered = 0;
        std::uint64_t timedOut = 0;
        std::uint64_t failed = 0;
        std::uint64_t notFound = 0;
        std::uint64_t stray = 0;
        std::uint64_t deferred = 0; // connection attempts that waited for a descriptor
        std::uint64_t lookUps = 0;  // name look-ups started
        std::uint64_t probesTimed = 0;
        double latenessP50Ms = 0;
        double latenessP90Ms = 0;
        double latenessP99Ms = 0;
        double latenessWorstMs = 0;
    };

    explicit PingEngine(Method method = Method::Auto, QObject *parent = nullptr);
    // With Method::Auto, asks openSocket for the ICMP sockets instead of the system.
    PingEngine(Method method, SocketFactory openSocket, QObject *parent = nullptr);
    // Keeps its cycles and time-outs by clock instead of the system's time.
    PingEngine(Method method, Clock &clock, QObject *parent = nullptr);
    PingEngine(Method method, SocketFactory openSocket, Clock &clock, QObject *parent = nullptr);
    ~PingEngine() override;

    // The engine of the process, made on first use on the GUI thread and
    // owned by the application object.
    static PingEngine *shared();

    // Whether IPv4 hosts are probed by ICMP echo. When not, notice() says why,
    // in the user's words, and how to enable it; icmpUnavailable() carries the
    // same text once, soon after the engine is made.
    bool icmpAvailable() const { return notice_.isEmpty() && method_ == Method::Auto; }
    QString notice() const { return notice_; }
    // How IPv4 hosts are probed: "ICMP datagram socket", "ICMP raw socket" or "TCP connection".
    QString probeKind() const { return probeKind_; }

    Handle attach(PingClient *client);
    void detach(Handle handle);
    // Probes host (a name or an address) timing.wait from now, then
    // timing.wait after each result; port is used by the TCP fallback. Results
    // of an earlier start of the same handle are never delivered after this call.
    void start(Handle handle, const QByteArray &host, unsigned short port, const Timing &timing = Timing());
    // No result of the handle is delivered after this call until it is started again.
    void stop(Handle handle);

    Statistics statistics() const;
    // How many probes left how late against their due time, in 0.1 ms steps;
    // the last step gathers everything from 200 ms on.
    std::vector<std::uint64_t> latenessHistogram() const;
    static double latenessPercentileMs(const std::vector<std::uint64_t> &histogram, double percent);
    int clientCount() const { return int(clients_.size() - free_.size()); }
    // How many connection attempts of the TCP fallback may be in flight at once.
    long tcpBudget() const;

signals:
    void icmpUnavailable(const QString &text);

private:
    struct Client {
        PingClient *client = nullptr;
        unsigned generation = 0;
        unsigned run = 0;
        bool started = false;
    };
    void deliver(const std::vector<PingResult> &batch);
    Client *find(Handle handle);

    Method method_;
    QString notice_;
    QString probeKind_ = QStringLiteral("TCP connection");
    std::deque<Client> clients_; // by slot; grows without the spare room of a vector
    std::vector<unsigned> free_;
    unsigned nextGeneration_ = 1;
    std::unique_ptr<PingLoop> loop_;
};
