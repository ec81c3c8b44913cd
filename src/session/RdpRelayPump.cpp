#include "RdpRelayPump.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {

// As much as one read of the old relay took at once: a frame of a busy screen
// passes in a few moves.
constexpr int PipeBytes = 256 * 1024;
// Moves of one way per call, so that one busy connection leaves the loop to
// the others now and then; what is left is taken at the next wake.
constexpr int MovesPerCall = 16;

} // namespace

RdpRelayPump::RdpRelayPump(int client, int server, const QByteArray &first)
{
    fromClient_.from = client;
    fromClient_.to = server;
    fromServer_.from = server;
    fromServer_.to = client;
    ready_ = Open(fromClient_) && Open(fromServer_);
    if (!ready_ || first.isEmpty())
        return;
    const ssize_t written = ::write(fromServer_.pipe[1], first.constData(), size_t(first.size()));
    ready_ = written == first.size();
    if (ready_)
        fromServer_.held = size_t(written);
}

RdpRelayPump::~RdpRelayPump()
{
    Close(fromClient_);
    Close(fromServer_);
}

bool RdpRelayPump::Open(Way &way)
{
    if (::pipe2(way.pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        way.pipe[0] = way.pipe[1] = -1;
        return false;
    }
    // A larger pipe where the system allows it; the size it has otherwise.
    ::fcntl(way.pipe[1], F_SETPIPE_SZ, PipeBytes);
    const int size = ::fcntl(way.pipe[1], F_GETPIPE_SZ);
    way.capacity = size > 0 ? size_t(size) : 4096;
    return true;
}

void RdpRelayPump::Close(Way &way)
{
    for (int &fd : way.pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

RdpRelayPump::Outcome RdpRelayPump::Move(std::uint32_t clientEvents, std::uint32_t serverEvents)
{
    // An error or hang-up shows when the socket is read or written.
    const auto readable = [](std::uint32_t events) { return (events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0; };
    const auto writable = [](std::uint32_t events) { return (events & (EPOLLOUT | EPOLLHUP | EPOLLERR)) != 0; };
    for (Way *way : {&fromServer_, &fromClient_}) {
        const bool fromServer = way == &fromServer_;
        const std::uint32_t fromEvents = fromServer ? serverEvents : clientEvents;
        const std::uint32_t toEvents = fromServer ? clientEvents : serverEvents;
        bool fromFailed = false;
        const int error = Flow(*way, readable(fromEvents), writable(toEvents), fromFailed);
        if (error == 0)
            continue;
        if (fromServer != fromFailed)
            return Outcome::ClientFailed;
        serverError_ = error;
        return Outcome::ServerFailed;
    }
    const bool done = fromClient_.passedOn && fromServer_.passedOn;
    return done ? Outcome::Finished : Outcome::Flowing;
}

int RdpRelayPump::Flow(Way &way, bool readable, bool writable, bool &fromFailed)
{
    constexpr unsigned flags = SPLICE_F_MOVE | SPLICE_F_NONBLOCK;
    for (int move = 0; move < MovesPerCall; ++move) {
        bool progress = false;
        if (way.held > 0 && writable) {
            const ssize_t n = ::splice(way.pipe[0], nullptr, way.to, nullptr, way.held, flags);
            if (n > 0) {
                way.held -= size_t(n);
                progress = true;
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                fromFailed = false;
                return errno;
            }
            // What is left waits until the side can take more.
            writable = way.held == 0;
        }
        if (!way.ended && readable && way.held < way.capacity) {
            const size_t room = way.capacity - way.held;
            const ssize_t n = ::splice(way.from, nullptr, way.pipe[1], nullptr, room, flags);
            if (n > 0) {
                way.held += size_t(n);
                // Less than there was room for: most likely all there was;
                // the socket's next event tells of more.
                readable = size_t(n) == room;
                writable = true;
                progress = true;
            } else if (n == 0) {
                way.ended = true;
                progress = true;
            } else if (errno == EAGAIN) {
                readable = false;
            } else if (errno != EINTR) {
                fromFailed = true;
                return errno;
            }
        }
        if (!progress)
            break;
    }
    // The other side hears of the end once it has all that came before it.
    if (way.ended && way.held == 0 && !way.passedOn) {
        ::shutdown(way.to, SHUT_WR);
        way.passedOn = true;
    }
    return 0;
}

std::uint32_t RdpRelayPump::ClientEvents() const
{
    return (!fromClient_.ended && fromClient_.held < fromClient_.capacity ? EPOLLIN : 0u)
        | (fromServer_.held > 0 ? EPOLLOUT : 0u);
}

std::uint32_t RdpRelayPump::ServerEvents() const
{
    return (!fromServer_.ended && fromServer_.held < fromServer_.capacity ? EPOLLIN : 0u)
        | (fromClient_.held > 0 ? EPOLLOUT : 0u);
}
