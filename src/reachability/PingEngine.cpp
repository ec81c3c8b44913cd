#include "PingEngine.h"

#include "Clock.h"
#include "IcmpSocket.h"
#include "PingLoop.h"
#include "TcpProbe.h"

#include <QCoreApplication>
#include <QPointer>

#include <sys/socket.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr long WantedDescriptors = 65536;

QString fallbackNotice(const QString &cause)
{
    return QStringLiteral("无法打开 ICMP 套接字（%1），服务器状态改为用 TCP 连接服务器端口来检测。"
                          "要使用 ICMP（ping），请由管理员执行 "
                          "sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"（写入 /etc/sysctl.d/ 可长期生效），"
                          "或给本程序加上 cap_net_raw 能力（setcap cap_net_raw+ep 程序文件），然后重新启动本程序。")
        .arg(cause);
}

} // namespace

PingEngine::PingEngine(Method method, QObject *parent)
    : PingEngine(method, &IcmpSocket::open, parent)
{
}

PingEngine::PingEngine(Method method, SocketFactory openSocket, QObject *parent)
    : PingEngine(method, std::move(openSocket), Clock::system(), parent)
{
}

PingEngine::PingEngine(Method method, Clock &clock, QObject *parent)
    : PingEngine(method, &IcmpSocket::open, clock, parent)
{
}

PingEngine::PingEngine(Method method, SocketFactory openSocket, Clock &clock, QObject *parent)
    : QObject(parent), method_(method)
{
    std::unique_ptr<IcmpSocket> v4;
    std::unique_ptr<IcmpSocket> v6;
    if (method == Method::Auto) {
        QString why;
        v4 = openSocket(AF_INET, &why);
        v6 = openSocket(AF_INET6, nullptr);
        if (!v4)
            notice_ = fallbackNotice(why);
        else if (v4->kind() == IcmpSocket::Kind::Datagram)
            probeKind_ = QStringLiteral("ICMP datagram socket");
        else
            probeKind_ = QStringLiteral("ICMP raw socket");
    }
    if (!v4 || !v6)
        TcpProbe::raiseDescriptorLimit(WantedDescriptors);
    loop_ = std::make_unique<PingLoop>(
        std::move(v4), std::move(v6), [this](std::vector<PingResult> &&batch) {
            // On the loop's thread: hand the batch to the GUI thread.
            QMetaObject::invokeMethod(
                this, [this, batch = std::move(batch)] { deliver(batch); }, Qt::QueuedConnection);
        },
        clock);
    if (!notice_.isEmpty()) {
        QMetaObject::invokeMethod(
            this, [this] { emit icmpUnavailable(notice_); }, Qt::QueuedConnection);
    }
}

PingEngine::~PingEngine()
{
    loop_.reset();
}

PingEngine *PingEngine::shared()
{
    static QPointer<PingEngine> engine;
    if (!engine)
        engine = new PingEngine(Method::Auto, QCoreApplication::instance());
    return engine;
}

PingEngine::Handle PingEngine::attach(PingClient *client)
{
    unsigned slot;
    if (!free_.empty()) {
        slot = free_.back();
        free_.pop_back();
    } else {
        slot = unsigned(clients_.size());
        clients_.emplace_back();
    }
    Client &entry = clients_[slot];
    entry.client = client;
    entry.generation = nextGeneration_++;
    if (nextGeneration_ == 0)
        nextGeneration_ = 1;
    entry.run = 0;
    entry.started = false;
    return Handle{slot, entry.generation};
}

void PingEngine::detach(Handle handle)
{
    Client *entry = find(handle);
    if (!entry)
        return;
    if (entry->started)
        loop_->stop(handle.slot);
    *entry = Client{};
    free_.push_back(handle.slot);
}

void PingEngine::start(Handle handle, const QByteArray &host, unsigned short port, const Timing &timing)
{
    Client *entry = find(handle);
    if (!entry)
        return;
    ++entry->run;
    entry->started = true;
    loop_->start(handle.slot, handle.generation, entry->run, host, port, timing.wait, timing.timeout);
}

long PingEngine::tcpBudget() const
{
    return loop_->tcpBudget();
}

void PingEngine::stop(Handle handle)
{
    Client *entry = find(handle);
    if (!entry || !entry->started)
        return;
    ++entry->run;
    entry->started = false;
    loop_->stop(handle.slot);
}

PingEngine::Client *PingEngine::find(Handle handle)
{
    if (!handle.isValid() || handle.slot >= clients_.size())
        return nullptr;
    Client &entry = clients_[handle.slot];
    return entry.generation == handle.generation ? &entry : nullptr;
}

void PingEngine::deliver(const std::vector<PingResult> &batch)
{
    for (const PingResult &result : batch) {
        if (result.slot >= clients_.size())
            continue;
        const Client &entry = clients_[result.slot];
        // Dropped: a client detached, or stopped or started again since the probe.
        if (!entry.client || !entry.started || entry.generation != result.generation || entry.run != result.run)
            continue;
        entry.client->pingResult(result.iRet, result.latencyUs);
    }
}

std::vector<std::uint64_t> PingEngine::latenessHistogram() const
{
    const PingCounters &counters = loop_->counters();
    std::vector<std::uint64_t> histogram(PingCounters::Buckets);
    for (int i = 0; i < PingCounters::Buckets; ++i)
        histogram[i] = counters.lateness[i].load(std::memory_order_relaxed);
    return histogram;
}

double PingEngine::latenessPercentileMs(const std::vector<std::uint64_t> &histogram, double percent)
{
    std::uint64_t total = 0;
    for (const std::uint64_t count : histogram)
        total += count;
    if (total == 0)
        return 0;
    // The upper edge of the 0.1 ms step that holds the rank.
    const auto rank = std::uint64_t(std::ceil(double(total) * percent / 100.0));
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < histogram.size(); ++i) {
        seen += histogram[i];
        if (seen >= rank && histogram[i] > 0)
            return double(i + 1) * 0.1;
    }
    return double(histogram.size()) * 0.1;
}

PingEngine::Statistics PingEngine::statistics() const
{
    const PingCounters &counters = loop_->counters();
    Statistics statistics;
    statistics.sent = counters.sent.load();
    statistics.answered = counters.answered.load();
    statistics.timedOut = counters.timedOut.load();
    statistics.failed = counters.failed.load();
    statistics.notFound = counters.notFound.load();
    statistics.stray = counters.stray.load();
    statistics.deferred = counters.deferred.load();
    statistics.lookUps = counters.lookUps.load();
    statistics.latenessWorstMs = double(counters.worstLatenessNs.load()) / 1e6;
    const std::vector<std::uint64_t> histogram = latenessHistogram();
    for (const std::uint64_t count : histogram)
        statistics.probesTimed += count;
    statistics.latenessP50Ms = latenessPercentileMs(histogram, 50);
    statistics.latenessP90Ms = latenessPercentileMs(histogram, 90);
    statistics.latenessP99Ms = latenessPercentileMs(histogram, 99);
    return statistics;
}
