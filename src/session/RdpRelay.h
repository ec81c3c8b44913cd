#pragma once

#include "RdpEndCause.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>

class RdpRelayLoop;
struct RdpRelayState;

// The connection to the server, made by the program itself so that it can be
// cut at any moment: while the name is looked up, while the server is being
// reached, and while a silent server keeps the library waiting in the middle of
// the handshake. The library reaches it as a proxy on a private local socket
// (it asks for the server by name, so certificates and logon see the real
// address); the relay connects to the server and passes the bytes both ways.
// Only this program may use it: the socket lives in a private folder and the
// peer's process is checked.
//
// The relays of all sessions run on one thread of the process, RdpRelayLoop's;
// a relay is this program's registration with it.
class RdpRelay {
public:
    RdpRelay();
    ~RdpRelay();
    RdpRelay(const RdpRelay &) = delete;
    RdpRelay &operator=(const RdpRelay &) = delete;

    // Listens for the library; each connection it makes is taken to the
    // server it asks for.
    bool Start();
    // The path of the local socket, for the library's proxy setting.
    QByteArray SocketPath() const { return path_; }
    // Cuts every connection and refuses new ones; from any thread.
    void Cancel();
    // Cancels and waits until the loop has let go of the relay.
    void Stop();
    // How the last attempt to reach the server went.
    RdpConnectFailure Failure() const;
    // How the last connection to the server ended.
    RdpLinkEnd LinkEnd() const;
    // Requests for a server the library has made through the relay so far.
    int Requests() const;

    // Removes the folders that relays of processes gone left behind (killed,
    // they had no chance to); on the GUI thread before the first relay starts.
    // The folder that holds them, the system's temporary folder unless told.
    static void RemoveStaleFolders(const QString &parent = {});

    // A connection to the server whose host leaves what is sent unanswered for
    // this long counts as lost and is cut; before Start. 0: the system's own.
    void SetLossDetection(int milliseconds);
    // From now on until EndAttempt, what the library does through the relay is
    // cut once its time is up: reaching the server gets reachMs, the handshake
    // after that handshakeMs. The outcome starts afresh. From any thread.
    void BeginAttempt(int reachMs, int handshakeMs);
    void EndAttempt();

private:
    int Listen();

    const std::shared_ptr<RdpRelayState> state_;
    QByteArray dir_;
    QByteArray path_;
    std::mutex lock_; // guards loop_ and id_ against Cancel from other threads
    std::shared_ptr<RdpRelayLoop> loop_;
    std::uint64_t id_ = 0;
};
