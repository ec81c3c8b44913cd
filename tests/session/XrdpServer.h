#pragma once

// xrdp as a second RDP server for the session tests and the benchmark: an RDP
// stack of its own (unlike the FreeRDP shadow server), which negotiates
// channels, paints parts of the screen and sends drawing orders.
//
// `Server` starts `xrdp-sesman -n -c` and `xrdp -n -c` with configurations
// written into a temporary folder, xrdp listening on 127.0.0.1 only. The
// process must be in a network namespace of its own (tests/PrivateNetwork.h):
// xrdp finds its session manager on the fixed port 3350 of loopback, which
// is then private to the process. Logging on starts a session for the test
// user: an Xorg with the xrdp driver, xrdp-chansrv (the channels) and the
// user's ~/.xsession, an xterm whose background is a known colour. Everything
// started, sessions included, is stopped with the object.

#include "VirtualDisplay.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace XrdpTest {

inline QString UserName() { return QStringLiteral("brennicxrdp"); }
inline QString Password() { return QStringLiteral("Xrdp!Brennic7"); }
// The background of the test user's desktop.
inline constexpr unsigned Background = 0x204a87;
// What the test user's session runs: an xterm over the whole screen, in one colour.
inline QByteArray XSession()
{
    return "#!/bin/sh\n"
           "# Written by the Brennic session tests: one window of a known colour.\n"
           "exec xterm -bw 0 -geometry 400x150+0+0 -bg '#204a87' -fg '#204a87' -cr '#204a87' +sb\n";
}

// Empty when xrdp can run here; else why not.
inline QString WhyNotRunnable()
{
    if (::geteuid() != 0)
        return QStringLiteral("needs root: xrdp logs the test user on through PAM and starts a session as that user");
    QStringList missing;
    for (const char *name : {"xrdp", "xrdp-sesman", "xterm", "useradd", "chpasswd"})
        if (!TestDisplay::HaveProgram(QString::fromLatin1(name)))
            missing << QString::fromLatin1(name);
    for (const char *path : {"/usr/lib/xorg/Xorg", "/usr/lib/xorg/modules/drivers/xrdpdev_drv.so"})
        if (!QFile::exists(QString::fromLatin1(path)))
            missing << QString::fromLatin1(path);
    if (!missing.isEmpty())
        return QStringLiteral("needs xrdp, xorgxrdp and xterm (missing: %1)").arg(missing.join(QStringLiteral(", ")));
    return {};
}

namespace detail {

inline bool Run(const QString &program, const QStringList &arguments, const QByteArray &input = {})
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(5000))
        return false;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(2000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Something listens on the port of 127.0.0.1 or of ::1 (the session manager
// takes "127.0.0.1" to mean ::1 where IPv6 is built in).
inline bool PortAccepts(int port)
{
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    v4.sin_port = htons(uint16_t(port));
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_addr = in6addr_loopback;
    v6.sin6_port = htons(uint16_t(port));
    const auto accepts = [](int family, const sockaddr *address, socklen_t length) {
        const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool ok = fd >= 0 && ::connect(fd, address, length) == 0;
        if (fd >= 0)
            ::close(fd);
        return ok;
    };
    return accepts(AF_INET, reinterpret_cast<sockaddr *>(&v4), sizeof v4)
        || accepts(AF_INET6, reinterpret_cast<sockaddr *>(&v6), sizeof v6);
}

struct ProcessInfo {
    pid_t pid = 0;
    pid_t parent = 0;
    char state = '?';
};

inline QList<ProcessInfo> AllProcesses()
{
    QList<ProcessInfo> all;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 2)
            continue;
        all.append({pid, pid_t(fields[1].toInt()), fields[0].isEmpty() ? '?' : fields[0][0]});
    }
    return all;
}

inline bool Alive(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int at = text.lastIndexOf(')') + 2;
    return at < text.size() && text[at] != 'Z';
}

inline QStringList CommandLine(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList words;
    for (const QByteArray &word : file.readAll().split('\0'))
        if (!word.isEmpty())
            words << QString::fromLocal8Bit(word);
    return words;
}

inline uid_t Owner(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return uid_t(-1);
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith("Uid:"))
            return uid_t(line.mid(4).trimmed().split('\t').value(0).toUInt());
    return uid_t(-1);
}

} // namespace detail

// Creates the test user when missing, sets its password and its ~/.xsession.
inline bool EnsureUser(QString *error)
{
    if (!::getpwnam(UserName().toLocal8Bit().constData())
        && !detail::Run(QStringLiteral("useradd"), {QStringLiteral("-m"), QStringLiteral("-s"), QStringLiteral("/bin/sh"), UserName()})) {
        *error = QStringLiteral("useradd %1 failed").arg(UserName());
        return false;
    }
    const passwd *user = ::getpwnam(UserName().toLocal8Bit().constData());
    if (!user) {
        *error = QStringLiteral("no user %1").arg(UserName());
        return false;
    }
    if (!detail::Run(QStringLiteral("chpasswd"), {}, (UserName() + QLatin1Char(':') + Password() + QLatin1Char('\n')).toUtf8())) {
        *error = QStringLiteral("chpasswd failed");
        return false;
    }
    const QString home = QString::fromLocal8Bit(user->pw_dir);
    QDir().mkpath(home);
    const QString path = home + QStringLiteral("/.xsession");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(XSession()) < 0) {
        *error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    file.close();
    const bool owned = ::chown(home.toLocal8Bit().constData(), user->pw_uid, user->pw_gid) == 0
        && ::chown(path.toLocal8Bit().constData(), user->pw_uid, user->pw_gid) == 0
        && ::chmod(path.toLocal8Bit().constData(), 0755) == 0;
    if (!owned) {
        *error = QStringLiteral("cannot give %1 to %2").arg(path, UserName());
        return false;
    }
    return true;
}

class Server {
public:
    ~Server() { Stop(); }

    // Port on 127.0.0.1, 0 for one of 33900-33999 picked from the process id.
    // With credentialsInServer, the test user's name and password are in the
    // configuration of xrdp's session type: its login screen asks for nothing,
    // and Return there logs the user on, for a client that sends no credentials.
    bool Start(QString *error, int port = 0, bool credentialsInServer = false)
    {
        credentialsInServer_ = credentialsInServer;
        if (const QString why = WhyNotRunnable(); !why.isEmpty()) {
            *error = why;
            return false;
        }
        if (!folder_.isValid() || !EnsureUser(error))
            return error->isEmpty() ? (*error = QStringLiteral("no temporary folder"), false) : false;
        // Whatever a session leaves behind when its parent dies comes to this
        // process, so that Stop finds it and nothing outlives the test.
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        port_ = port ? port : 33900 + int(::getpid() % 100);
        if (!WriteConfigurations(error))
            return false;
        SweepLeftovers();
        DieWithThisProcess(sesman_);
        DieWithThisProcess(xrdp_);
        sesman_.setProgram(QStringLiteral("xrdp-sesman"));
        sesman_.setArguments({QStringLiteral("-n"), QStringLiteral("-c"), folder_.filePath(QStringLiteral("sesman.ini"))});
        sesman_.setStandardOutputFile(folder_.filePath(QStringLiteral("sesman.out")));
        sesman_.setStandardErrorFile(folder_.filePath(QStringLiteral("sesman.out")), QIODevice::Append);
        sesman_.start();
        if (!sesman_.waitForStarted(5000) || !WaitForPort(3350, sesman_)) {
            *error = QStringLiteral("xrdp-sesman is not listening on port 3350 of loopback: %1").arg(Log(QStringLiteral("sesman.log")));
            Stop();
            return false;
        }
        return StartXrdp(error);
    }

    int Port() const { return port_; }
    QString Folder() const { return folder_.path(); }

    // Kills xrdp and the processes it forked for its connections, at once.
    void KillXrdp()
    {
        QList<pid_t> doomed = Descendants({pid_t(xrdp_.processId())});
        for (pid_t pid : doomed)
            ::kill(pid, SIGKILL);
        xrdp_.kill();
        xrdp_.waitForFinished(3000);
        Reap(doomed);
    }

    bool StartXrdp(QString *error)
    {
        xrdp_.setProgram(QStringLiteral("xrdp"));
        xrdp_.setArguments({QStringLiteral("-n"), QStringLiteral("-c"), folder_.filePath(QStringLiteral("xrdp.ini"))});
        xrdp_.setStandardOutputFile(folder_.filePath(QStringLiteral("xrdp.out")), QIODevice::Append);
        xrdp_.setStandardErrorFile(folder_.filePath(QStringLiteral("xrdp.out")), QIODevice::Append);
        xrdp_.start();
        if (!xrdp_.waitForStarted(5000) || !WaitForPort(port_, xrdp_)) {
            *error = QStringLiteral("xrdp is not listening on 127.0.0.1:%1: %2").arg(port_).arg(Log(QStringLiteral("xrdp.log")));
            Stop();
            return false;
        }
        return true;
    }

    // Stops xrdp, the session manager and every session they started.
    void Stop()
    {
        QList<pid_t> all = Descendants({pid_t(xrdp_.processId()), pid_t(sesman_.processId())});
        all += Orphans();
        // The sessions first, while the session manager still collects them.
        Signal(all, SIGTERM, 3000);
        Signal(all, SIGKILL, 2000);
        TestDisplay::StopProcess(xrdp_);
        TestDisplay::StopProcess(sesman_);
        Reap(all);
    }

    // The X display of the session that the last logon went to (created or
    // reconnected), e.g. ":612"; empty when none.
    QString SessionDisplay() const
    {
        QFile log(folder_.filePath(QStringLiteral("sesman.log")));
        if (!log.open(QIODevice::ReadOnly))
            return {};
        static const QRegularExpression line(QStringLiteral("(?:Starting session|reconnected session):.*display (:\\d+)"));
        QString display;
        for (const QByteArray &text : log.readAll().split('\n'))
            if (const auto match = line.match(QString::fromLocal8Bit(text)); match.hasMatch())
                display = match.captured(1);
        return display;
    }

    // For an X client of the test user's session (xclip, a painter) run by this process.
    QProcessEnvironment SessionEnvironment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), SessionDisplay());
        if (const passwd *user = ::getpwnam(UserName().toLocal8Bit().constData()))
            env.insert(QStringLiteral("XAUTHORITY"), QString::fromLocal8Bit(user->pw_dir) + QStringLiteral("/.Xauthority"));
        return env;
    }

    // The processes of the sessions that run now (their Xorg, chansrv, desktop).
    QList<pid_t> SessionProcesses() const { return Descendants({pid_t(sesman_.processId())}); }

private:
    // When the test process dies without stopping the server (a crash), the
    // daemons die with it; what their sessions leave is swept by the next run.
    static void DieWithThisProcess(QProcess &process)
    {
        process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    }

    // Processes of earlier runs whose test process died: the test user's, and
    // session managers of this harness, that nobody but init looks after.
    static void SweepLeftovers()
    {
        const passwd *user = ::getpwnam(UserName().toLocal8Bit().constData());
        QList<pid_t> leftovers;
        for (const detail::ProcessInfo &p : detail::AllProcesses()) {
            if (p.parent != 1 || p.state == 'Z')
                continue;
            const QStringList command = detail::CommandLine(p.pid);
            const bool ours = (user && detail::Owner(p.pid) == user->pw_uid)
                || (command.value(0).endsWith(QStringLiteral("xrdp-sesman"))
                    && command.value(3).contains(QStringLiteral("/brennic-xrdp-")));
            if (ours)
                leftovers.append(p.pid);
        }
        leftovers += Descendants(leftovers);
        Signal(leftovers, SIGTERM, 2000);
        Signal(leftovers, SIGKILL, 1000);
    }

    bool WriteConfigurations(QString *error)
    {
        const QString dir = folder_.path();
        // Display numbers are shared by every X server of the machine: start the
        // sessions' numbers apart from those of Xvfb (70-470) and of other runs.
        const int displayOffset = 600 + int(::getpid() % 300);
        const QList<std::pair<QString, QString>> xrdpChanges{
            {QStringLiteral("port=3389"), QStringLiteral("port=tcp://127.0.0.1:%1").arg(port_)},
            {QStringLiteral("LogFile=xrdp.log"), QStringLiteral("LogFile=%1/xrdp.log").arg(dir)},
            {QStringLiteral("EnableSyslog=true"), QStringLiteral("EnableSyslog=false")},
        };
        // Those of the first session type, Xorg, the login screen's choice.
        const QList<std::pair<QString, QString>> logOnChanges{
            {QStringLiteral("username=ask"), QStringLiteral("username=%1").arg(UserName())},
            {QStringLiteral("password=ask"), QStringLiteral("password=%1").arg(Password())},
        };
        const QList<std::pair<QString, QString>> sesmanChanges{
            {QStringLiteral("X11DisplayOffset=10"), QStringLiteral("X11DisplayOffset=%1").arg(displayOffset)},
            {QStringLiteral("LogFile=xrdp-sesman.log"), QStringLiteral("LogFile=%1/sesman.log").arg(dir)},
            {QStringLiteral("EnableSyslog=true"), QStringLiteral("EnableSyslog=false")},
            // No session bus: nothing in the test session needs one, and
            // dbus-launch would leave daemons of its own.
            {QStringLiteral("[SessionVariables]"), QStringLiteral("[SessionVariables]\nDBUS_SESSION_BUS_ADDRESS=disabled:")},
        };
        return Rewrite(QStringLiteral("/etc/xrdp/xrdp.ini"), dir + QStringLiteral("/xrdp.ini"),
                       credentialsInServer_ ? xrdpChanges + logOnChanges : xrdpChanges, error)
            && Rewrite(QStringLiteral("/etc/xrdp/sesman.ini"), dir + QStringLiteral("/sesman.ini"), sesmanChanges, error);
    }

    // The system's stock configuration with a few lines changed.
    static bool Rewrite(const QString &from, const QString &to, const QList<std::pair<QString, QString>> &changes,
                        QString *error)
    {
        QFile in(from);
        if (!in.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read %1").arg(from);
            return false;
        }
        QStringList lines = QString::fromUtf8(in.readAll()).split(QLatin1Char('\n'));
        for (const auto &[line, replacement] : changes) {
            const qsizetype at = lines.indexOf(line);
            if (at < 0) {
                *error = QStringLiteral("%1 has no line %2").arg(from, line);
                return false;
            }
            lines[at] = replacement;
        }
        QFile out(to);
        if (!out.open(QIODevice::WriteOnly) || out.write(lines.join(QLatin1Char('\n')).toUtf8()) < 0) {
            *error = QStringLiteral("cannot write %1").arg(to);
            return false;
        }
        return true;
    }

    static bool WaitForPort(int port, const QProcess &process)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 10000 && process.state() == QProcess::Running) {
            if (detail::PortAccepts(port))
                return true;
            QThread::msleep(20);
        }
        return false;
    }

    QString Log(const QString &name) const
    {
        QFile file(folder_.filePath(name));
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll().right(600)) : QString();
    }

    // Every process below the given ones, children before their parents' parents.
    static QList<pid_t> Descendants(const QList<pid_t> &roots)
    {
        const QList<detail::ProcessInfo> all = detail::AllProcesses();
        QSet<pid_t> tree;
        for (pid_t root : roots)
            if (root > 0)
                tree.insert(root);
        QList<pid_t> found;
        for (bool grew = true; grew;) {
            grew = false;
            for (const detail::ProcessInfo &p : all)
                if (tree.contains(p.parent) && !tree.contains(p.pid)) {
                    tree.insert(p.pid);
                    found.append(p.pid);
                    grew = true;
                }
        }
        return found;
    }

    // Processes of the test user that lost their parent and came to this process.
    static QList<pid_t> Orphans()
    {
        const passwd *user = ::getpwnam(UserName().toLocal8Bit().constData());
        if (!user)
            return {};
        QList<pid_t> orphans;
        for (const detail::ProcessInfo &p : detail::AllProcesses())
            if (p.parent == ::getpid() && detail::Owner(p.pid) == user->pw_uid)
                orphans.append(p.pid);
        return orphans + Descendants(orphans);
    }

    static void Signal(const QList<pid_t> &pids, int signal, int waitMs)
    {
        bool any = false;
        for (pid_t pid : pids)
            if (detail::Alive(pid)) {
                ::kill(pid, signal);
                any = true;
            }
        QElapsedTimer timer;
        timer.start();
        while (any && timer.elapsed() < waitMs) {
            Reap(pids);
            any = std::any_of(pids.begin(), pids.end(), [](pid_t pid) { return detail::Alive(pid); });
            if (any)
                QThread::msleep(20);
        }
    }

    // Collects those that came to this process when their parent died.
    static void Reap(const QList<pid_t> &pids)
    {
        for (pid_t pid : pids)
            ::waitpid(pid, nullptr, WNOHANG);
    }

    QTemporaryDir folder_{QDir::tempPath() + QStringLiteral("/brennic-xrdp-XXXXXX")};
    QProcess sesman_;
    QProcess xrdp_;
    int port_ = 0;
    bool credentialsInServer_ = false;
};

} // namespace XrdpTest
