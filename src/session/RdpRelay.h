#pragma once

#include "RdpEndCause.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

// The connection to the server, made by the program itself so that it can be
// cut at any moment: while the name is looked up, while the server is being
// reached, and while a silent server keeps the library waiting in the middle of
// the handshake. The library reaches it as a proxy on a private local socket
// (it asks for the server by name, so certificates and logon see the real
// address); the relay connects to the server and passes the bytes both ways.
// Only this program may use it: the socket lives in a private folder and the
// peer's process is checked.
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
    // Cancels and waits for the relay's thread.
    void Stop();
    // How the last attempt to reach the server went.
    RdpConnectFailure Failure() const { return failure_; }
    // How the last connection to the server ended.
    RdpLinkEnd LinkEnd() const { return link_; }
    // Requests for a server the library has made through the relay so far.
    int Requests() const { return requests_; }

    // Removes the folders that relays of processes gone left behind (killed,
    // they had no chance to); on the GUI thread before the first relay starts.
    // The folder that holds them, the system's temporary folder unless told.
    static void RemoveStaleFolders(const QString &parent = {});

    // A connection to the server whose host leaves what is sent unanswered for
    // this long counts as lost and is cut; before Start. 0: the system's own.
    void SetLossDetection(int milliseconds) { lossDetectMs_ = milliseconds; }
    // From now on until EndAttempt, what the library does through the relay is
    // cut once its time is up: reaching the server gets reachMs, the handshake
    // after that handshakeMs. The outcome starts afresh. From any thread.
    void BeginAttempt(int reachMs, int handshakeMs);
    void EndAttempt();

private:
    void Run();
    void Serve();
    void Serve(int client);
    bool ReadRequest(int client, QByteArray &host, int &port);
    int ConnectServer(const QByteArray &host, int port);
    int ConnectAddress(const struct addrinfo *address, int limitMs);
    void Pump(int client, int server);
    // Waits for fd (events) or the cancel; true when fd is ready.
    // Within the attempt's time unless told otherwise.
    bool WaitFor(int fd, short events, int timeoutMs = -1, bool withinAttempt = true);
    // The time a wait of timeoutMs may take within the attempt's limit; -1 for no end.
    int WithinAttempt(int timeoutMs) const;
    bool AttemptOver() const;
    void DetectLoss(int fd) const;
    void NoteServerError(int error);
    void Track(int fd);
    void Close(int &fd);

    QByteArray dir_;
    QByteArray path_;
    int cancelFd_ = -1;
    int listenFd_ = -1;
    std::atomic<bool> cancelled_{false};
    std::atomic<RdpConnectFailure> failure_{RdpConnectFailure::None};
    std::atomic<RdpLinkEnd> link_{RdpLinkEnd::Open};
    std::atomic<int> requests_{0};
    std::atomic<qint64> attemptEnd_{0}; // steady-clock milliseconds; 0 while no attempt is limited
    std::atomic<int> handshakeMs_{0};
    int lossDetectMs_ = 0;
    std::mutex fdLock_; // guards open_ against Cancel
    std::vector<int> open_;
    std::thread thread_;
};
