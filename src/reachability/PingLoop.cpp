#include "PingLoop.h"

#include "TcpProbe.h"

#include <QRandomGenerator>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// What an epoll event is about: the top byte of its data, the slot or descriptor below.
enum Tag : std::uint64_t {
    WakeTag = 1,
    V4Tag = 3,
    V6Tag = 4,
    TcpTag = 5,
    ResolverTag = 6
};
constexpr int TagShift = 56;
constexpr int MaxRepliesPerWake = 8192;
constexpr int ReceiveEvery = 256;                      // probes sent between two looks at the replies
constexpr auto Retry = std::chrono::milliseconds(100); // after the system had no socket or buffer to spare
// A pass sends for at most this long before it looks at its commands and
// events again; what is left is still due in the next pass.
constexpr auto PassLimit = std::chrono::milliseconds(50);

void watch(int epoll, int fd, std::uint32_t events, std::uint64_t data)
{
    epoll_event event{};
    event.events = events;
    event.data.u64 = data;
    epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event);
}

} // namespace

PingLoop::PingLoop(std::unique_ptr<IcmpSocket> v4, std::unique_ptr<IcmpSocket> v6, Post deliver, Clock &clock)
    : clock_(clock),
      post_(std::move(deliver)),
      token_(QRandomGenerator::system()->generate64()),
      request_(EchoRequest::data()),
      tcpBudget_(TcpProbe::descriptorBudget())
{
    v4_.socket = std::move(v4);
    v6_.socket = std::move(v6);
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    watch(epoll_, wake_, EPOLLIN, std::uint64_t(WakeTag) << TagShift);
    for (Family *family : {&v4_, &v6_}) {
        if (!family->socket)
            continue;
        family->owner.assign(0x10000, 0);
        family->nextSequence = static_cast<unsigned short>(QRandomGenerator::global()->generate());
        watch(epoll_, family->socket->handle(), EPOLLIN,
              std::uint64_t(family == &v4_ ? V4Tag : V6Tag) << TagShift);
    }
    resolver_ = std::make_unique<HostResolver>(
        epoll_, ResolverTag, TagShift,
        [this](unsigned slot, unsigned serial, const std::optional<IpAddress> &address) { resolved(slot, serial, address); }, clock_);
    sleeper_ = std::make_unique<Clock::Sleeper>(clock_, [this] {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(wake_, &one, sizeof one);
    });
    thread_ = std::thread([this] { run(); });
}

PingLoop::~PingLoop()
{
    quit_.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(wake_, &one, sizeof one);
    thread_.join();
    sleeper_.reset();
    resolver_.reset();
    // The epoll set first: it lets go of all its sockets at once.
    ::close(epoll_);
    for (Target &target : targets_) {
        if (target.tcp >= 0)
            TcpProbe::close(target.tcp);
    }
    ::close(wake_);
}

void PingLoop::start(unsigned slot, unsigned generation, unsigned run, const QByteArray &host, unsigned short port,
                     Clock::duration wait, Clock::duration timeout)
{
    Command command;
    command.kind = Command::Kind::Start;
    command.slot = slot;
    command.generation = generation;
    command.run = run;
    command.host = host;
    command.port = port;
    command.wait = std::max<Clock::duration>(wait, std::chrono::milliseconds(1));
    command.timeout = std::max<Clock::duration>(timeout, std::chrono::milliseconds(1));
    post(std::move(command));
}

void PingLoop::stop(unsigned slot)
{
    Command command;
    command.kind = Command::Kind::Stop;
    command.slot = slot;
    post(std::move(command));
}

void PingLoop::post(Command &&command)
{
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        commands_.push_back(std::move(command));
        wake = !woken_;
        woken_ = true;
    }
    if (wake)
        sleeper_->wake();
}

void PingLoop::run()
{
    epoll_event events[256];
    std::vector<Command> commands;
    for (;;) {
        const int waitMs = sleeper_->blockMs(wakeAt_, resolver_->libraryTimeout());
        const int count = epoll_wait(epoll_, events, 256, waitMs);
        sleeper_->awake();
        if ((count < 0 && errno != EINTR) || quit_.load(std::memory_order_relaxed))
            return;
        Clock::time_point now = clock_.now();
        for (int i = 0; i < count; ++i) {
            const std::uint64_t data = events[i].data.u64;
            const auto tag = Tag(data >> TagShift);
            std::uint64_t drained = 0;
            switch (tag) {
            case WakeTag: {
                [[maybe_unused]] ssize_t got = ::read(wake_, &drained, sizeof drained);
                {
                    std::lock_guard lock(mutex_);
                    commands.swap(commands_);
                    woken_ = false;
                }
                for (Command &command : commands)
                    apply(command, now);
                // A burst (a whole list's pollers started at once) leaves no large buffer behind.
                if (commands.capacity() > KeptCommands)
                    commands = std::vector<Command>();
                commands.clear();
                break;
            }
            case V4Tag:
                receive(v4_, now);
                break;
            case V6Tag:
                receive(v6_, now);
                break;
            case TcpTag:
                finishTcp(unsigned(data & 0xffffffffu), now);
                break;
            case ResolverTag:
                resolver_->process(int(data & 0xffffffffu), events[i].events);
                break;
            }
        }
        now = clock_.now();
        resolver_->processTimeouts(now);
        passEnd_ = now + PassLimit;
        expire(now);
        deferSlowTcp(now);
        startQueuedTcp(now);
        sendDue(now);
        flushRequests(now);
        now = clock_.now();
        flush(now, false);
        arm(now);
    }
}

void PingLoop::apply(Command &command, Clock::time_point now)
{
    if (command.slot >= targets_.size()) {
        if (command.kind != Command::Kind::Start)
            return;
        targets_.resize(command.slot + 1);
    }
    Target &target = targets_[command.slot];
    cancel(target);
    if (command.kind == Command::Kind::Stop)
        return;
    target.generation = command.generation;
    target.run = command.run;
    target.host = command.host.trimmed();
    target.port = command.port;
    target.wait = command.wait;
    target.timeout = command.timeout;
    const std::optional<IpAddress> literal = IpAddress::parseLiteral(target.host);
    target.isName = !literal;
    target.standing = Standing::Untried;
    target.address = literal.value_or(IpAddress());
    wait(target, command.slot, now, target.wait);
}

void PingLoop::cancel(Target &target)
{
    if (target.state == State::Icmp) {
        Family &family = target.address.family == AF_INET ? v4_ : v6_;
        if (!family.owner.empty())
            family.owner[target.sequence] = 0;
    } else if (target.state == State::Tcp) {
        closeTcp(target);
    }
    target.state = State::Idle;
    ++target.serial;
}

void PingLoop::wait(Target &target, unsigned slot, Clock::time_point now, Clock::duration after)
{
    target.state = State::Waiting;
    ++target.serial;
    waiting_.add(now, after, slot, target.serial);
}

bool PingLoop::valid(const Timed &entry, bool inFlight) const
{
    const Target &target = targets_[entry.slot];
    if (target.serial != entry.serial)
        return false;
    return inFlight ? target.state == State::Icmp || target.state == State::Tcp : target.state == State::Waiting;
}

void PingLoop::sendDue(Clock::time_point now)
{
    // Only what was due when the pass began, and only for so long: a probe
    // that is put back (no buffer, no descriptor) waits for a later pass, and
    // so does the rest of a large round, so the loop soon returns to its
    // epoll wait, its commands and its end.
    const Clock::time_point due = now;
    int sent = 0;
    while (const Timed *front = waiting_.front()) {
        if (front->at > due)
            break;
        const Timed entry = *front;
        waiting_.popFront();
        if (!valid(entry, false))
            continue;
        begin(entry.slot, entry.at, now);
        // Near hosts answer while the rest of a large round is still being
        // sent: take their replies in between, before the socket's buffer fills.
        if (++sent % ReceiveEvery == 0) {
            now = clock_.now();
            if (passOver(now))
                break;
            flushRequests(now);
            for (Family *family : {&v4_, &v6_}) {
                if (family->socket)
                    receive(*family, now);
            }
        }
    }
}

bool PingLoop::passOver(Clock::time_point now) const
{
    return now >= passEnd_ || quit_.load(std::memory_order_relaxed);
}

void PingLoop::begin(unsigned slot, Clock::time_point due, Clock::time_point now)
{
    noteLateness(clock_.now() - due);
    Target &target = targets_[slot];
    if (target.isName) {
        target.state = State::Resolving;
        ++target.serial;
        const HostResolver::Lookup lookup = resolver_->find(target.host, slot, target.serial, now);
        counters_.lookUps.store(resolver_->lookUps(), std::memory_order_relaxed);
        if (lookup.answer == HostResolver::Answer::Pending)
            return; // resolved() goes on when the answer comes
        target.address = lookup.address;
    }
    if (!target.address.isValid()) {
        counters_.notFound.fetch_add(1, std::memory_order_relaxed);
        complete(slot, -1, now);
        return;
    }
    send(slot, now);
}

void PingLoop::resolved(unsigned slot, unsigned serial, const std::optional<IpAddress> &address)
{
    if (slot >= targets_.size())
        return;
    Target &target = targets_[slot];
    if (target.state != State::Resolving || target.serial != serial)
        return; // stopped or started again meanwhile
    const Clock::time_point now = clock_.now();
    if (!address) {
        counters_.notFound.fetch_add(1, std::memory_order_relaxed);
        complete(slot, -1, now);
        return;
    }
    target.address = *address;
    send(slot, now);
}

void PingLoop::send(unsigned slot, Clock::time_point now)
{
    Target &target = targets_[slot];
    Family &family = target.address.family == AF_INET ? v4_ : v6_;
    if (!family.socket) {
        sendTcp(slot, now);
        return;
    }
    unsigned short sequence = family.nextSequence;
    for (int tries = 0; tries < 0x10000 && family.owner[sequence] != 0; ++tries)
        ++sequence;
    if (family.owner[sequence] != 0) {
        wait(target, slot, now, Retry);
        return;
    }
    family.nextSequence = static_cast<unsigned short>(sequence + 1);
    ++target.serial;
    unsigned char data[EchoRequest::DataSize];
    std::memcpy(data, request_.constData(), sizeof data);
    EchoRequest::writeMark(data, EchoRequest::Mark{token_, slot, target.serial});
    family.socket->queue(target.address, sequence, data, sizeof data);
    family.queued.emplace_back(slot, target.serial);
    target.state = State::Icmp;
    target.sentAt = now;
    target.sequence = sequence;
    family.owner[sequence] = slot + 1;
    timeouts_.add(now, target.timeout, slot, target.serial);
    if (family.socket->queued() >= IcmpSocket::BatchSize)
        flushRequests(family, now);
}

void PingLoop::flushRequests(Clock::time_point now)
{
    for (Family *family : {&v4_, &v6_}) {
        if (family->socket)
            flushRequests(*family, now);
    }
}

void PingLoop::flushRequests(Family &family, Clock::time_point now)
{
    if (family.queued.empty())
        return;
    const int *errors = family.socket->flush();
    for (std::size_t i = 0; i < family.queued.size(); ++i) {
        const auto [slot, serial] = family.queued[i];
        const int error = errors[i];
        Target &target = targets_[slot];
        if (error == 0) {
            counters_.sent.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        if (target.state != State::Icmp || target.serial != serial)
            continue; // stopped in the meantime
        family.owner[target.sequence] = 0;
        if (error == EAGAIN || error == ENOBUFS || error == ENOMEM) {
            wait(target, slot, now, Retry);
            continue;
        }
        // No route, or a firewall refused it: a failed echo.
        counters_.sent.fetch_add(1, std::memory_order_relaxed);
        counters_.failed.fetch_add(1, std::memory_order_relaxed);
        complete(slot, 0, now);
    }
    family.queued.clear();
}

void PingLoop::sendTcp(unsigned slot, Clock::time_point now)
{
    Target &target = targets_[slot];
    const bool silent = target.standing == Standing::Silent;
    auto &queue = silent ? tcpSilentQueue_ : tcpQueue_;
    // Behind others that wait for a descriptor, or none to spare: wait in turn.
    if (!queue.empty() || !mayStartTcp(silent, now) || !connectTcp(slot, now)) {
        target.state = State::Queued;
        ++target.serial;
        queue.emplace_back(slot, target.serial);
        counters_.deferred.fetch_add(1, std::memory_order_relaxed);
    }
}

bool PingLoop::mayStartTcp(bool silent, Clock::time_point now) const
{
    if (tcpOpen_ >= tcpBudget_ || now < tcpPausedUntil_)
        return false;
    return !silent || (tcpQueue_.empty() && tcpSilentOpen_ < silentBudget());
}

long PingLoop::silentBudget() const
{
    return std::max(1L, long(double(tcpBudget_) * SilentShare));
}

void PingLoop::startQueuedTcp(Clock::time_point now)
{
    if (startFrom(tcpQueue_, false, now))
        startFrom(tcpSilentQueue_, true, now);
}

// Starts the attempts of one queue while there is room; false when the pass
// is over or the system had no descriptor to spare.
bool PingLoop::startFrom(std::deque<std::pair<unsigned, unsigned>> &queue, bool silent, Clock::time_point now)
{
    for (int started = 0; !queue.empty() && mayStartTcp(silent, now); ++started) {
        if (started % 64 == 63 && passOver(clock_.now()))
            return false;
        const auto [slot, serial] = queue.front();
        const Target &target = targets_[slot];
        if (target.state != State::Queued || target.serial != serial) {
            queue.pop_front(); // stopped or started again meanwhile
            continue;
        }
        if (!connectTcp(slot, now))
            return false;
        queue.pop_front();
    }
    return true;
}

Clock::duration PingLoop::slowAfter() const
{
    return std::max<Clock::duration>(SlowFactor * tcpTypicalAnswer_, std::chrono::milliseconds(MinSlowMs));
}

// With the budget full and hosts waiting for their first turn, attempts of
// that turn that are slow to answer give way: their hosts wait in the silent
// hosts' turn, where they get the whole time-out.
void PingLoop::deferSlowTcp(Clock::time_point now)
{
    const Clock::duration slow = slowAfter();
    while (!tcpFlight_.empty()) {
        const TcpFlight flight = tcpFlight_.front();
        Target &target = targets_[flight.slot];
        const bool inFlight = target.state == State::Tcp && target.serial == flight.serial;
        if (inFlight && (tcpQueue_.empty() || tcpOpen_ < tcpBudget_ || now - flight.started < slow))
            return;
        tcpFlight_.pop_front();
        if (!inFlight)
            continue; // answered, timed out or stopped
        closeTcp(target);
        target.standing = Standing::Silent;
        target.state = State::Queued;
        ++target.serial;
        tcpSilentQueue_.emplace_back(flight.slot, target.serial);
        counters_.deferred.fetch_add(1, std::memory_order_relaxed);
    }
}

// False when the system had no descriptor or port to spare: then no attempt
// is made for a while, and the target stays where it is.
bool PingLoop::connectTcp(unsigned slot, Clock::time_point now)
{
    Target &target = targets_[slot];
    const TcpProbe::Attempt attempt = TcpProbe::start(target.address, target.port);
    switch (attempt.outcome) {
    case TcpProbe::Outcome::NoResources:
        tcpPausedUntil_ = now + Retry;
        return false;
    case TcpProbe::Outcome::Up:
    case TcpProbe::Outcome::Down:
        target.standing = Standing::Answered;
        counters_.sent.fetch_add(1, std::memory_order_relaxed);
        if (attempt.outcome == TcpProbe::Outcome::Up)
            counters_.answered.fetch_add(1, std::memory_order_relaxed);
        else
            counters_.failed.fetch_add(1, std::memory_order_relaxed);
        complete(slot, attempt.outcome == TcpProbe::Outcome::Up ? 1 : 0, now);
        return true;
    case TcpProbe::Outcome::Pending:
        break;
    }
    counters_.sent.fetch_add(1, std::memory_order_relaxed);
    ++tcpOpen_;
    target.state = State::Tcp;
    target.tcp = attempt.handle;
    ++target.serial;
    target.silentTurn = target.standing == Standing::Silent;
    if (target.silentTurn)
        ++tcpSilentOpen_;
    else
        tcpFlight_.push_back(TcpFlight{slot, target.serial, now});
    target.tcpStarted = now;
    target.sentAt = now;
    watch(epoll_, attempt.handle, EPOLLOUT, (std::uint64_t(TcpTag) << TagShift) | slot);
    timeouts_.add(now, target.timeout, slot, target.serial);
    return true;
}

void PingLoop::closeTcp(Target &target)
{
    epoll_ctl(epoll_, EPOLL_CTL_DEL, target.tcp, nullptr);
    TcpProbe::close(target.tcp);
    target.tcp = -1;
    --tcpOpen_;
    if (target.silentTurn)
        --tcpSilentOpen_;
    target.silentTurn = false;
}

void PingLoop::receive(Family &family, Clock::time_point now)
{
    IcmpSocket &socket = *family.socket;
    for (int i = 0; i < MaxRepliesPerWake; ++i) {
        // Each result's next probe is due a second after the result: keep the
        // clock current through a long run of replies.
        if (i % IcmpSocket::BatchSize == IcmpSocket::BatchSize - 1)
            now = clock_.now();
        IcmpSocket::Reply reply;
        const IcmpSocket::Read read = socket.receive(reply);
        if (read == IcmpSocket::Read::Empty)
            return;
        if (read == IcmpSocket::Read::Other)
            continue;
        // A raw socket also sees the replies of every other prober on the machine.
        if (socket.repliesNeedIdCheck() && reply.id != socket.echoId()) {
            counters_.stray.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        const unsigned owner = family.owner[reply.sequence];
        EchoRequest::Mark mark;
        const bool marked = EchoRequest::readMark(reply.data, reply.size, mark);
        if (owner == 0 || !marked || reply.size != EchoRequest::DataSize) {
            counters_.stray.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        const unsigned slot = owner - 1;
        const Target &target = targets_[slot];
        // Matched by the mark alone, whatever address the reply came from: a
        // host behind address translation, anycast or several interfaces may
        // answer from another address than the one asked, and its reply counts.
        // The mark (our token, the slot and the probe's serial) already rules
        // out a reply meant for another probe or another prober.
        if (target.state != State::Icmp || target.sequence != reply.sequence
            || !(mark == EchoRequest::Mark{token_, slot, target.serial})) {
            counters_.stray.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        family.owner[reply.sequence] = 0;
        counters_.answered.fetch_add(1, std::memory_order_relaxed);
        complete(slot, 1, now);
    }
}

void PingLoop::finishTcp(unsigned slot, Clock::time_point now)
{
    if (slot >= targets_.size())
        return;
    Target &target = targets_[slot];
    if (target.state != State::Tcp)
        return;
    const TcpProbe::Outcome outcome = TcpProbe::finish(target.tcp);
    closeTcp(target);
    target.standing = Standing::Answered;
    // How long answers take of late: a moving average.
    const Clock::duration took = now - target.tcpStarted;
    tcpTypicalAnswer_ += (took - tcpTypicalAnswer_) / 64;
    if (outcome == TcpProbe::Outcome::Up)
        counters_.answered.fetch_add(1, std::memory_order_relaxed);
    else
        counters_.failed.fetch_add(1, std::memory_order_relaxed);
    complete(slot, outcome == TcpProbe::Outcome::Up ? 1 : 0, now);
}

void PingLoop::expire(Clock::time_point now)
{
    for (int expired = 0; const Timed *front = timeouts_.front(); ++expired) {
        if (front->at > now || (expired % 256 == 255 && passOver(clock_.now())))
            break;
        const Timed entry = *front;
        timeouts_.popFront();
        if (!valid(entry, true))
            continue;
        Target &target = targets_[entry.slot];
        if (target.state == State::Icmp) {
            Family &family = target.address.family == AF_INET ? v4_ : v6_;
            family.owner[target.sequence] = 0;
        } else {
            closeTcp(target);
            target.standing = Standing::Silent;
        }
        counters_.timedOut.fetch_add(1, std::memory_order_relaxed);
        complete(entry.slot, 0, now);
    }
}

void PingLoop::complete(unsigned slot, int iRet, Clock::time_point now)
{
    Target &target = targets_[slot];
    const qint64 latencyUs = iRet >= 1 ? std::chrono::duration_cast<std::chrono::microseconds>(now - target.sentAt).count() : -1;
    results_.push_back(PingResult{slot, target.generation, target.run, iRet, latencyUs});
    wait(target, slot, now, target.wait);
}

void PingLoop::flush(Clock::time_point now, bool force)
{
    if (results_.empty())
        return;
    if (!force && now < lastFlush_ + std::chrono::milliseconds(FlushMs))
        return;
    lastFlush_ = now;
    std::vector<PingResult> batch;
    batch.swap(results_);
    post_(std::move(batch));
}

void PingLoop::noteLateness(Clock::duration late)
{
    const auto ns = std::uint64_t(std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(late).count()));
    const std::uint64_t bucket = std::min<std::uint64_t>(ns / 100000, PingCounters::Buckets - 1);
    counters_.lateness[bucket].fetch_add(1, std::memory_order_relaxed);
    std::uint64_t worst = counters_.worstLatenessNs.load(std::memory_order_relaxed);
    while (ns > worst && !counters_.worstLatenessNs.compare_exchange_weak(worst, ns, std::memory_order_relaxed)) {
    }
}

void PingLoop::arm(Clock::time_point now)
{
    waiting_.dropStale([this](const Timed &entry) { return !valid(entry, false); });
    timeouts_.dropStale([this](const Timed &entry) { return !valid(entry, true); });
    std::optional<Clock::time_point> next;
    auto consider = [&next](Clock::time_point at) {
        if (!next || at < *next)
            next = at;
    };
    if (const Timed *front = waiting_.front())
        consider(front->at);
    if (const Timed *front = timeouts_.front())
        consider(front->at);
    if (!results_.empty())
        consider(lastFlush_ + std::chrono::milliseconds(FlushMs));
    const bool silentMayStart = !tcpSilentQueue_.empty() && tcpQueue_.empty() && tcpSilentOpen_ < silentBudget();
    if ((!tcpQueue_.empty() || silentMayStart) && tcpOpen_ < tcpBudget_)
        consider(std::max(now, tcpPausedUntil_));
    if (!tcpQueue_.empty() && tcpOpen_ >= tcpBudget_ && !tcpFlight_.empty())
        consider(tcpFlight_.front().started + slowAfter());
    if (const std::optional<Clock::time_point> lookUp = resolver_->nextTimeout(now))
        consider(*lookUp);
    wakeAt_.reset();
    if (!next)
        return;
    // Round up to the tick, so that probes due close together leave in one wake.
    const auto tick = std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(TickMs));
    const auto since = next->time_since_epoch();
    wakeAt_ = Clock::time_point{((since + tick - Clock::duration(1)) / tick) * tick};
}
