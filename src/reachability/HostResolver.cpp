#include "HostResolver.h"

#include <ares.h>

#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>

namespace {

constexpr int TryTimeoutMs = 1000; // the first try; c-ares doubles it for the second
constexpr int Tries = 2;
constexpr auto ForgetAfter = std::chrono::minutes(10); // a name no probe asked for
constexpr auto SweepEvery = std::chrono::minutes(1);
constexpr const char *ConfigFile = "/etc/resolv.conf";

// The configuration file's identity and time of change, to notice a new one.
QByteArray configStamp()
{
    struct stat info {};
    if (::stat(ConfigFile, &info) != 0)
        return QByteArray();
    return QByteArray::number(qulonglong(info.st_ino)) + ' ' + QByteArray::number(qlonglong(info.st_mtim.tv_sec)) + '.'
        + QByteArray::number(qlonglong(info.st_mtim.tv_nsec)) + ' ' + QByteArray::number(qlonglong(info.st_size));
}

// Answers that settle a name; anything else (no server reachable, time-out)
// says nothing about it, and an earlier answer stays in use.
bool definite(int status)
{
    return status == ARES_SUCCESS || status == ARES_ENOTFOUND || status == ARES_ENODATA || status == ARES_ENONAME;
}

} // namespace

HostResolver::HostResolver(int epoll, std::uint64_t tag, int tagShift, Done done, Clock &clock)
    : clock_(clock), epoll_(epoll), tag_(tag), tagShift_(tagShift), done_(std::move(done))
{
    static std::once_flag libraryReady;
    std::call_once(libraryReady, [] { ares_library_init(ARES_LIB_INIT_ALL); });
    open();
}

void HostResolver::open()
{
    config_ = configStamp();
    ares_options options{};
    options.timeout = TryTimeoutMs;
    options.tries = Tries;
    options.sock_state_cb = &HostResolver::socketChanged;
    options.sock_state_cb_data = this;
    static_assert(TryTimeoutMs + 2 * TryTimeoutMs == LookUpTimeoutMs);
    ares_channel channel = nullptr;
    if (ares_init_options(&channel, &options, ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_SOCK_STATE_CB) == ARES_SUCCESS)
        channel_ = channel;
}

void HostResolver::reopenIfConfigChanged(Clock::time_point now)
{
    if (now - lastConfigCheck_ < ConfigCheckEvery)
        return;
    lastConfigCheck_ = now;
    if (configStamp() == config_)
        return;
    // The old channel's queries end here, unanswered (their callbacks ignore
    // the channel's end); the names they were for are asked again below.
    if (channel_)
        ares_destroy(channel_);
    channel_ = nullptr;
    open();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        Entry &entry = *it;
        if (entry.inFlight) {
            // Without a new channel the look-up ends by its time-out, as not found.
            if (!channel_)
                continue;
            --running_;
            entry.inFlight = false;
            start(it.key(), entry, now);
        } else if (!entry.address) {
            // Not found by the old name servers: ask the new ones at the next probe.
            entry.known = false;
        } else {
            entry.expires = now;
        }
    }
}

HostResolver::~HostResolver()
{
    if (channel_)
        ares_destroy(channel_);
}

HostResolver::Lookup HostResolver::find(const QByteArray &host, unsigned slot, unsigned serial, Clock::time_point now,
                                        NotFoundDue notFoundDue)
{
    reopenIfConfigChanged(now);
    if (!channel_ || !IpAddress::canBeName(host))
        return Lookup{Answer::NotFound, IpAddress()};
    sweep(now);
    Entry &entry = entries_[host];
    entry.lastUsed = now;
    if (entry.known) {
        // Due again: look it up in the background, and use the last answer meanwhile.
        const bool due = now >= entry.expires;
        if (due && !entry.inFlight)
            start(host, entry, now);
        if (entry.address)
            return Lookup{Answer::Known, *entry.address};
        if (!due || notFoundDue == NotFoundDue::Use)
            return Lookup{Answer::NotFound, IpAddress()};
    }
    entry.waiters.emplace_back(slot, serial);
    if (!entry.inFlight)
        start(host, entry, now); // a name from the hosts file is answered at once, through Done
    return Lookup{};
}

std::vector<IpAddress> HostResolver::addresses(const QByteArray &host) const
{
    const auto it = entries_.constFind(host);
    return it == entries_.cend() || !it->known ? std::vector<IpAddress>() : it->all;
}

void HostResolver::start(const QByteArray &host, Entry &entry, Clock::time_point now)
{
    entry.inFlight = true;
    entry.lookUp = ++nextLookUp_;
    ++running_;
    ++outstanding_;
    ++lookUps_;
    deadlines_.push_back(Deadline{now + std::chrono::milliseconds(LookUpTimeoutMs), host, entry.lookUp});
    ares_addrinfo_hints hints{};
    hints.ai_family = AF_UNSPEC;
    // Owned by c-ares until answered() takes it back.
    auto *query = new Query{this, host, entry.lookUp};
    ares_getaddrinfo(channel_, host.constData(), nullptr, &hints, &HostResolver::answered, query);
}

void HostResolver::answered(void *data, int status, int, ares_addrinfo *result)
{
    std::unique_ptr<Query> query(static_cast<Query *>(data));
    --query->resolver->outstanding_;
    if (status == ARES_EDESTRUCTION || status == ARES_ECANCELLED) {
        if (result)
            ares_freeaddrinfo(result);
        return;
    }
    query->resolver->settle(query->host, query->lookUp, status, result);
}

void HostResolver::settle(const QByteArray &host, unsigned lookUp, int status, ares_addrinfo *result)
{
    std::optional<IpAddress> address;
    std::vector<IpAddress> addresses;
    int ttl = 0;
    if (status == ARES_SUCCESS && result) {
        ttl = result->nodes ? result->nodes->ai_ttl : 0;
        for (const ares_addrinfo_node *node = result->nodes; node; node = node->ai_next) {
            addresses.push_back(IpAddress::fromSockaddr(node->ai_addr));
            ttl = std::min(ttl, node->ai_ttl);
        }
        address = IpAddress::choose(addresses);
    }
    if (result)
        ares_freeaddrinfo(result);
    const auto it = entries_.find(host);
    // Timed out already, or asked again of other name servers.
    if (it == entries_.end() || !it->inFlight || it->lookUp != lookUp)
        return;
    --running_;
    Entry &entry = *it;
    entry.inFlight = false;
    const Clock::time_point now = clock_.now();
    if (!definite(status) && entry.known && entry.address) {
        entry.expires = now + MinTtl;
        return;
    }
    entry.known = true;
    entry.address = address;
    entry.all = address ? std::move(addresses) : std::vector<IpAddress>();
    entry.expires = now + std::clamp<Clock::duration>(std::chrono::seconds(std::max(ttl, 0)), MinTtl, MaxTtl);
    const std::vector<std::pair<unsigned, unsigned>> waiters = std::move(entry.waiters);
    entry.waiters.clear();
    for (const auto &[slot, serial] : waiters)
        done_(slot, serial, address);
}

void HostResolver::sweep(Clock::time_point now)
{
    if (now - lastSweep_ < SweepEvery)
        return;
    lastSweep_ = now;
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (!it->inFlight && now - it->lastUsed > ForgetAfter)
            it = entries_.erase(it);
        else
            ++it;
    }
}

void HostResolver::process(int fd, std::uint32_t events)
{
    if (!channel_)
        return;
    const bool readable = events & (EPOLLIN | EPOLLERR | EPOLLHUP);
    const bool writable = events & EPOLLOUT;
    ares_process_fd(channel_, readable ? fd : ARES_SOCKET_BAD, writable ? fd : ARES_SOCKET_BAD);
}

void HostResolver::processTimeouts(Clock::time_point now)
{
    if (outstanding_ > 0 && channel_)
        ares_process_fd(channel_, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
    expire(now);
    if (running_ > 0)
        reopenIfConfigChanged(now);
}

// Look-ups that took too long end as a time-out, whatever the library still
// tries: the name counts as not found, unless an earlier answer stays in use.
void HostResolver::expire(Clock::time_point now)
{
    while (!deadlines_.empty() && deadlines_.front().at <= now) {
        const Deadline deadline = std::move(deadlines_.front());
        deadlines_.pop_front();
        settle(deadline.host, deadline.lookUp, ARES_ETIMEOUT, nullptr);
    }
}

std::optional<Clock::time_point> HostResolver::nextTimeout(Clock::time_point now) const
{
    if (running_ == 0)
        return std::nullopt;
    Clock::time_point next = lastConfigCheck_ + ConfigCheckEvery;
    if (!deadlines_.empty())
        next = std::min(next, deadlines_.front().at);
    return std::max(next, now);
}

std::optional<Clock::duration> HostResolver::libraryTimeout() const
{
    timeval left{};
    if (outstanding_ == 0 || !channel_ || !ares_timeout(channel_, nullptr, &left))
        return std::nullopt;
    return std::chrono::seconds(left.tv_sec) + std::chrono::microseconds(left.tv_usec);
}

void HostResolver::socketChanged(void *data, int fd, int readable, int writable)
{
    auto *resolver = static_cast<HostResolver *>(data);
    if (!readable && !writable) {
        epoll_ctl(resolver->epoll_, EPOLL_CTL_DEL, fd, nullptr);
        return;
    }
    epoll_event event{};
    event.events = (readable ? EPOLLIN : 0u) | (writable ? EPOLLOUT : 0u);
    event.data.u64 = (resolver->tag_ << resolver->tagShift_) | std::uint32_t(fd);
    if (epoll_ctl(resolver->epoll_, EPOLL_CTL_ADD, fd, &event) != 0 && errno == EEXIST)
        epoll_ctl(resolver->epoll_, EPOLL_CTL_MOD, fd, &event);
}
