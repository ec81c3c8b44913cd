#include "RdpRelayLoop.h"

#include "RdpRelayChannel.h"

#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <future>

namespace {

// What an epoll event is about: the top byte of its data, the descriptor below.
enum Tag : std::uint64_t {
    WakeTag = 1,
    ResolverTag = 2,
    RelayTag = 3
};
constexpr int TagShift = 56;
constexpr int EventsPerWake = 64;

void Signal(int fd)
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof one);
}

} // namespace

std::shared_ptr<RdpRelayLoop> RdpRelayLoop::Shared()
{
    static std::mutex lock;
    static std::weak_ptr<RdpRelayLoop> current;
    std::lock_guard guard(lock);
    if (std::shared_ptr<RdpRelayLoop> loop = current.lock())
        return loop;
    std::shared_ptr<RdpRelayLoop> loop(new RdpRelayLoop());
    if (!loop->Ready())
        return nullptr;
    loop->thread_ = std::thread(&RdpRelayLoop::Run, loop.get());
    // Named before anyone can look: for the process's thread list.
    pthread_setname_np(loop->thread_.native_handle(), "rdp-relay");
    current = loop;
    return loop;
}

RdpRelayLoop::RdpRelayLoop()
{
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (epoll_ < 0 || wake_ < 0)
        return;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = std::uint64_t(WakeTag) << TagShift;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event);
    resolver_ = std::make_unique<HostResolver>(
        epoll_, ResolverTag, TagShift,
        [this](unsigned slot, unsigned, const std::optional<IpAddress> &address) { Answered(slot, address); });
}

RdpRelayLoop::~RdpRelayLoop()
{
    if (thread_.joinable()) {
        {
            std::lock_guard guard(lock_);
            quit_ = true;
        }
        Signal(wake_);
        thread_.join();
    }
    relays_.clear();
    resolver_.reset();
    if (wake_ >= 0)
        ::close(wake_);
    if (epoll_ >= 0)
        ::close(epoll_);
}

std::uint64_t RdpRelayLoop::Add(int listenFd, std::shared_ptr<RdpRelayState> state)
{
    std::uint64_t relay = 0;
    {
        std::lock_guard guard(lock_);
        relay = ++nextRelay_;
    }
    Post([this, relay, listenFd, state = std::move(state)]() mutable {
        relays_[relay] = std::make_unique<RdpRelayChannel>(*this, relay, listenFd, std::move(state));
    });
    return relay;
}

void RdpRelayLoop::Cancel(std::uint64_t relay)
{
    Post([this, relay] {
        if (RdpRelayChannel *channel = Find(relay))
            channel->Cancel();
    });
}

void RdpRelayLoop::Remove(std::uint64_t relay)
{
    // Shared with the command: the waiter may go as soon as the value is set.
    auto removed = std::make_shared<std::promise<void>>();
    std::future<void> done = removed->get_future();
    Post([this, relay, removed] {
        relays_.erase(relay);
        removed->set_value();
    });
    done.wait();
}

void RdpRelayLoop::Wake()
{
    Signal(wake_);
}

void RdpRelayLoop::Post(std::function<void()> command)
{
    {
        std::lock_guard guard(lock_);
        commands_.push_back(std::move(command));
    }
    Signal(wake_);
}

void RdpRelayLoop::Run()
{
    // Signals are for other threads; a write to a closed connection reports
    // EPIPE here instead of ending the process.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    epoll_event events[EventsPerWake];
    for (;;) {
        const int n = ::epoll_wait(epoll_, events, EventsPerWake, WaitMs());
        for (int i = 0; i < n; ++i)
            Dispatch(events[i].data.u64, events[i].events);
        resolver_->processTimeouts(Clock::system().now());
        DeliverAnswers();
        Expire();
        RunCommands();
        std::lock_guard guard(lock_);
        if (quit_)
            return;
    }
}

void RdpRelayLoop::RunCommands()
{
    std::deque<std::function<void()>> commands;
    {
        std::lock_guard guard(lock_);
        commands.swap(commands_);
    }
    for (auto &command : commands)
        command();
}

void RdpRelayLoop::Dispatch(std::uint64_t data, std::uint32_t events)
{
    const int fd = int(data & 0xffffffffu);
    switch (data >> TagShift) {
    case WakeTag: {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(wake_, &count, sizeof count);
        break;
    }
    case ResolverTag: resolver_->process(fd, events); break;
    case RelayTag:
        // An event of a descriptor closed earlier in this round is no longer watched.
        if (const auto it = watched_.find(fd); it != watched_.end())
            if (RdpRelayChannel *channel = Find(it->second.relay))
                channel->Handle(fd, events);
        break;
    }
}

RdpRelayChannel *RdpRelayLoop::Find(std::uint64_t relay) const
{
    const auto it = relays_.find(relay);
    return it == relays_.end() ? nullptr : it->second.get();
}

void RdpRelayLoop::Watch(int fd, std::uint32_t events, std::uint64_t relay)
{
    const auto it = watched_.find(fd);
    if (events == 0) {
        if (it != watched_.end()) {
            ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
            watched_.erase(it);
        }
        return;
    }
    epoll_event event{};
    event.events = events;
    event.data.u64 = (std::uint64_t(RelayTag) << TagShift) | std::uint32_t(fd);
    if (it == watched_.end()) {
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
        watched_[fd] = Watched{relay, events};
    } else if (it->second.events != events) {
        ::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event);
        it->second.events = events;
    }
}

bool RdpRelayLoop::Resolve(const QByteArray &host, std::uint64_t relay, std::vector<IpAddress> &addresses)
{
    const unsigned slot = ++nextSlot_;
    asked_[slot] = Asked{relay, host};
    // A connection asked for by a user (or a reconnect) does not fail on an old
    // "not found" whose time is up: the name may have come back since.
    const HostResolver::Lookup lookup = resolver_->find(host, slot, 0, Clock::system().now(), HostResolver::NotFoundDue::Wait);
    std::optional<IpAddress> address;
    if (lookup.answer == HostResolver::Answer::Known) {
        address = lookup.address;
    } else if (lookup.answer == HostResolver::Answer::Pending) {
        // A name of the hosts file is answered within find().
        const auto it = std::find_if(answers_.begin(), answers_.end(), [slot](const auto &a) { return a.first == slot; });
        if (it == answers_.end())
            return false;
        address = it->second;
        answers_.erase(it);
    }
    asked_.erase(slot);
    addresses = AddressesOf(host, address);
    return true;
}

void RdpRelayLoop::Answered(unsigned slot, const std::optional<IpAddress> &address)
{
    // Handed on after the resolver's own work, never from within it.
    answers_.emplace_back(slot, address);
}

void RdpRelayLoop::DeliverAnswers()
{
    const auto answers = std::move(answers_);
    answers_.clear();
    for (const auto &[slot, address] : answers) {
        const auto it = asked_.find(slot);
        if (it == asked_.end())
            continue;
        const Asked asked = it->second;
        asked_.erase(it);
        if (RdpRelayChannel *channel = Find(asked.relay))
            channel->Resolved(AddressesOf(asked.host, address));
    }
}

std::vector<IpAddress> RdpRelayLoop::AddressesOf(const QByteArray &host, const std::optional<IpAddress> &address) const
{
    if (!address)
        return {};
    std::vector<IpAddress> addresses = resolver_->addresses(host);
    if (addresses.empty())
        addresses.push_back(*address);
    return addresses;
}

void RdpRelayLoop::Expire()
{
    const qint64 now = RdpRelayState::NowMs();
    for (const auto &[relay, channel] : relays_)
        channel->Expire(now);
}

int RdpRelayLoop::WaitMs() const
{
    const qint64 now = RdpRelayState::NowMs();
    qint64 wait = -1;
    const auto take = [&wait](qint64 ms) { wait = wait < 0 ? ms : std::min(wait, ms); };
    for (const auto &[relay, channel] : relays_)
        if (const std::optional<qint64> at = channel->Deadline())
            take(std::max<qint64>(0, *at - now));
    const Clock::time_point clockNow = Clock::system().now();
    if (const std::optional<Clock::time_point> at = resolver_->nextTimeout(clockNow))
        take(std::chrono::ceil<std::chrono::milliseconds>(*at - clockNow).count());
    if (const std::optional<Clock::duration> left = resolver_->libraryTimeout())
        take(std::chrono::ceil<std::chrono::milliseconds>(*left).count());
    return int(std::min<qint64>(wait, 60 * 1000));
}
