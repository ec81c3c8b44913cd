#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

// The bytes of one relayed connection, both ways, without copying them through
// the program: each way runs from its socket into a pipe and from the pipe to
// the other socket (splice), on non-blocking sockets. What the receiving side
// cannot take yet stays in the pipe, and the sending side is not read while the
// pipe is full, so a slow side slows the other down instead of filling memory.
// One side's end of sending is passed on once all it sent has been delivered.
// Used by the relays' loop thread only.
class RdpRelayPump {
public:
    enum class Outcome {
        Flowing,      // more to come
        Finished,     // both sides have finished sending, all delivered
        ServerFailed, // the server's connection failed (ServerError() says how)
        ClientFailed  // the library's connection failed
    };

    // first goes to the client before anything from the server.
    RdpRelayPump(int client, int server, const QByteArray &first);
    ~RdpRelayPump();
    RdpRelayPump(const RdpRelayPump &) = delete;
    RdpRelayPump &operator=(const RdpRelayPump &) = delete;

    // False when the system had no pipes to spare.
    bool Ready() const { return ready_; }
    // Moves what the sockets' epoll events (0 for a socket without one) let
    // move now: a side is read only when it has something, and written when
    // it can take more or something has just come for it.
    Outcome Move(std::uint32_t clientEvents, std::uint32_t serverEvents);
    // The epoll events each socket is to be watched for now (0: none).
    std::uint32_t ClientEvents() const;
    std::uint32_t ServerEvents() const;
    // The server has finished sending.
    bool ServerEnded() const { return fromServer_.ended; }
    int ServerError() const { return serverError_; }

private:
    struct Way {
        int from = -1;
        int to = -1;
        int pipe[2] = {-1, -1};
        std::size_t held = 0; // bytes in the pipe
        std::size_t capacity = 0;
        bool ended = false; // the sending side has finished
        bool passedOn = false;
    };
    // Moves one way; the errno of a failure, and on which side, or 0.
    int Flow(Way &way, bool readable, bool writable, bool &fromFailed);
    static bool Open(Way &way);
    static void Close(Way &way);

    Way fromClient_;
    Way fromServer_;
    bool ready_ = false;
    int serverError_ = 0;
};
