#pragma once

#include "PrivateNetwork.h"
#include "VirtualDisplay.h"

// A real RDP server on loopback for the session tests and the benchmark: an Xvfb
// display, the FreeRDP shadow server showing it, and a small X program that
// paints the display and records the keys typed to it. Each piece is started and
// stopped here; nothing is left running when the objects go.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace RdpTest {

// Puts the calling process, before it starts any thread, into a network
// namespace of its own with only a loopback interface: nothing the tests send can
// leave the machine and a name look-up fails at once. False when not allowed.
inline bool EnterPrivateNetwork()
{
    return PrivateNetwork::Enter();
}

// A TCP port on 127.0.0.1 that nothing listens on at the moment.
inline int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

inline bool PortAccepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

using TestDisplay::Display;
using TestDisplay::HaveProgram;
using TestDisplay::StopProcess;

// The programs a real server needs; empty when all are there.
inline QString MissingServerPrograms()
{
    QStringList missing;
    for (const char *name : {"Xvfb", "freerdp-shadow-cli", "winpr-hash"})
        if (!HaveProgram(QString::fromLatin1(name)))
            missing << QString::fromLatin1(name);
    return missing.join(QStringLiteral(", "));
}

// The FreeRDP shadow server showing a display, on 127.0.0.1.
class Server {
public:
    ~Server() { Stop(); }

    // Without credentials (TLS) when user is empty, else NLA with that user.
    bool Start(const Display &display, QString *error, const QString &user = {}, const QString &password = {},
               int port = 0)
    {
        if (!home_.isValid()) {
            *error = QStringLiteral("no temporary folder");
            return false;
        }
        port_ = port ? port : FreePort();
        QStringList arguments{QStringLiteral("/bind-address:127.0.0.1"), QStringLiteral("/port:%1").arg(port_)};
        if (user.isEmpty()) {
            arguments << QStringLiteral("-auth");
        } else {
            const QString sam = home_.filePath(QStringLiteral("sam"));
            QProcess hash;
            hash.start(QStringLiteral("winpr-hash"), {
                                                         QStringLiteral("-u"),
                                                         user,
                                                         QStringLiteral("-p"),
                                                         password,
                                                         QStringLiteral("-f"),
                                                         QStringLiteral("sam"),
                                                     });
            hash.waitForFinished(5000);
            QFile file(sam);
            if (!file.open(QIODevice::WriteOnly) || file.write(hash.readAllStandardOutput()) <= 0) {
                *error = QStringLiteral("winpr-hash failed");
                return false;
            }
            arguments << QStringLiteral("/sec:nla") << QStringLiteral("/sam-file:%1").arg(sam);
        }
        QProcessEnvironment env = display.Environment();
        env.insert(QStringLiteral("HOME"), home_.path());
        process_.setProcessEnvironment(env);
        process_.setProgram(QStringLiteral("freerdp-shadow-cli"));
        process_.setArguments(arguments);
        process_.setStandardOutputFile(home_.filePath(QStringLiteral("server.log")));
        process_.setStandardErrorFile(home_.filePath(QStringLiteral("server.log")), QIODevice::Append);
        process_.start();
        if (!process_.waitForStarted(3000)) {
            *error = QStringLiteral("freerdp-shadow-cli did not start");
            return false;
        }
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 10000 && process_.state() == QProcess::Running) {
            if (PortAccepts(port_))
                return true;
            QThread::msleep(50);
        }
        *error = QStringLiteral("freerdp-shadow-cli is not listening");
        return false;
    }

    int Port() const { return port_; }
    void Kill()
    {
        process_.kill();
        process_.waitForFinished(3000);
    }
    void Stop() { StopProcess(process_); }

private:
    QTemporaryDir home_;
    QProcess process_;
    int port_ = 0;
};

// The program that paints the display and records the keys typed to it.
class Painter {
public:
    ~Painter() { StopProcess(process_); }

    bool Start(const QString &program, const Display &display, const QString &color,
               const QString &keysFile = {}, double fps = 0, const QString &other = {}, int square = 0,
               bool pattern = false)
    {
        QStringList arguments{QStringLiteral("--color"), color};
        if (pattern)
            arguments << QStringLiteral("--pattern") << QStringLiteral("1");
        if (!keysFile.isEmpty())
            arguments << QStringLiteral("--keys") << keysFile;
        if (fps > 0)
            arguments << QStringLiteral("--animate") << QString::number(fps) << QStringLiteral("--other") << other;
        if (square > 0)
            arguments << QStringLiteral("--square") << QString::number(square);
        process_.setProcessEnvironment(display.Environment());
        process_.start(program, arguments);
        if (!process_.waitForStarted(3000))
            return false;
        return process_.waitForReadyRead(5000) && process_.readLine().startsWith("ready");
    }
    void Stop() { StopProcess(process_); }

private:
    QProcess process_;
};

} // namespace RdpTest
