#pragma once

// A private PostgreSQL server for tests and benchmarks: initdb and pg_ctl into a
// temporary folder, run as the unprivileged user "postgres" (initdb refuses root),
// listening on a UNIX socket in that folder only, no TCP port. The superuser is
// "brennic" with trust authentication. Stopped and removed with the object.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>

#include <pwd.h>
#include <unistd.h>

// In a test function: skips it, saying why, when the server (a std::unique_ptr<PgServer>) did not start.
#define PG_SERVER_OR_SKIP(server)                                                                                   \
    do {                                                                                                            \
        if (!(server) || !(server)->ready())                                                                        \
            QSKIP(qPrintable(PgServer::WhyNotRunnable().isEmpty() ? QStringLiteral("the test server did not start") \
                                                                  : PgServer::WhyNotRunnable()));                   \
    } while (false)

class PgServer {
public:
    static QString BinFolder() { return QStringLiteral("/usr/lib/postgresql/15/bin"); }

    // Empty when a server can be started here; else why not.
    static QString WhyNotRunnable()
    {
        if (::geteuid() != 0)
            return QStringLiteral("needs root: the server runs as the user postgres through runuser");
        if (!::getpwnam("postgres"))
            return QStringLiteral("needs the user postgres (package postgresql)");
        for (const char *tool : {"initdb", "pg_ctl", "psql"})
            if (!QFile::exists(BinFolder() + QLatin1Char('/') + QLatin1String(tool)))
                return QStringLiteral("needs PostgreSQL 15's %1 (package postgresql)").arg(QLatin1String(tool));
        if (!QFile::exists(QStringLiteral("/usr/lib/x86_64-linux-gnu/qt6/plugins/sqldrivers/libqsqlpsql.so")))
            return QStringLiteral("needs Qt SQL's PostgreSQL driver (package libqt6sql6-psql)");
        return {};
    }

    // A started server, or none where none can run (PG_SERVER_OR_SKIP says why).
    static std::unique_ptr<PgServer> StartIfRunnable()
    {
        return WhyNotRunnable().isEmpty() ? std::make_unique<PgServer>() : nullptr;
    }

    PgServer()
    {
        if (!WhyNotRunnable().isEmpty() || !dir_.isValid())
            return;
        const passwd *user = ::getpwnam("postgres");
        if (::chown(QFile::encodeName(dir_.path()).constData(), user->pw_uid, user->pw_gid) != 0)
            return;
        if (!asPostgres(QStringLiteral("mkdir"), {socketFolder()}))
            return;
        ready_ = asPostgres(BinFolder() + QStringLiteral("/initdb"),
                            {QStringLiteral("-D"), dataFolder(), QStringLiteral("-A"), QStringLiteral("trust"),
                             QStringLiteral("-U"), QStringLiteral("brennic"), QStringLiteral("-E"),
                             QStringLiteral("UTF8"), QStringLiteral("--no-sync")},
                            60000)
            && start();
    }
    ~PgServer() { stop(); }
    PgServer(const PgServer &) = delete;
    PgServer &operator=(const PgServer &) = delete;

    bool ready() const { return ready_; }
    QString socketFolder() const { return dir_.filePath(QStringLiteral("sock")); }
    int port() const { return port_; }

    // Starts the server, on another port than usual when asked (so that clients
    // looking for the usual one do not find it).
    bool start(int port = 5432)
    {
        port_ = port;
        tcp_ = false;
        running_ = asPostgres(BinFolder() + QStringLiteral("/pg_ctl"),
                              {QStringLiteral("-D"), dataFolder(), QStringLiteral("-l"), dir_.filePath(QStringLiteral("log")),
                               QStringLiteral("-o"),
                               QStringLiteral("-k %1 -c listen_addresses='%3' -p %2 -c fsync=off")
                                   .arg(socketFolder())
                                   .arg(port)
                                   .arg(tcp_ ? QStringLiteral("127.0.0.1") : QString()),
                               QStringLiteral("-w"), QStringLiteral("start")},
                              30000);
        return running_;
    }
    // Stops the server and starts it again listening on TCP at 127.0.0.1 too.
    bool restartOnTcp(int port)
    {
        if (!stop())
            return false;
        tcp_ = true;
        port_ = port;
        running_ = asPostgres(BinFolder() + QStringLiteral("/pg_ctl"),
                              {QStringLiteral("-D"), dataFolder(), QStringLiteral("-l"), dir_.filePath(QStringLiteral("log")),
                               QStringLiteral("-o"),
                               QStringLiteral("-k %1 -c listen_addresses='127.0.0.1' -p %2 -c fsync=off").arg(socketFolder()).arg(port),
                               QStringLiteral("-w"), QStringLiteral("start")},
                              30000);
        return running_;
    }
    // The address of a database over TCP, once restartOnTcp has run.
    QString tcpAddress(const QString &database) const
    {
        return QStringLiteral("postgresql://brennic@127.0.0.1:%1/%2").arg(port_).arg(database);
    }

    bool stop()
    {
        if (!running_)
            return true;
        running_ = !asPostgres(BinFolder() + QStringLiteral("/pg_ctl"),
                               {QStringLiteral("-D"), dataFolder(), QStringLiteral("-m"), QStringLiteral("fast"),
                                QStringLiteral("-w"), QStringLiteral("stop")},
                               30000);
        return !running_;
    }

    // The address the program takes for a database of this server.
    QString address(const QString &database, const QString &user = QStringLiteral("brennic")) const
    {
        return QStringLiteral("postgresql://%1@localhost/%2?host=%3&port=%4")
            .arg(user, database, socketFolder())
            .arg(port_);
    }

    // Runs SQL through psql as the superuser (or as another role); the output
    // (unaligned, tuples only) in *output.
    bool sql(const QString &database, const QString &statements, QString *output = nullptr,
             const QString &role = QStringLiteral("brennic")) const
    {
        QProcess psql;
        psql.start(BinFolder() + QStringLiteral("/psql"),
                   {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
                    QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"), socketFolder(),
                    QStringLiteral("-p"), QString::number(port_), QStringLiteral("-U"), role,
                    QStringLiteral("-d"), database, QStringLiteral("-c"), statements});
        if (!psql.waitForFinished(30000)) {
            psql.kill();
            psql.waitForFinished(2000);
            return false;
        }
        if (output)
            *output = QString::fromUtf8(psql.readAllStandardOutput()).trimmed();
        const QByteArray errors = psql.readAllStandardError();
        if (psql.exitCode() != 0 && !quietFailures_)
            qWarning("psql: %s", errors.constData());
        lastError_ = QString::fromUtf8(errors).trimmed();
        return psql.exitStatus() == QProcess::NormalExit && psql.exitCode() == 0;
    }

    // What psql said on standard error the last time.
    const QString &lastError() const { return lastError_; }
    // Refusals a test expects are not warned of.
    void setQuietFailures(bool quiet) { quietFailures_ = quiet; }

    // A login role of the cluster (roles outlive databases), made if missing.
    bool ensureRole(const QString &role) const
    {
        return sql(QStringLiteral("postgres"),
                   QStringLiteral("DO $$BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = '%1')"
                                  " THEN CREATE ROLE %1 LOGIN; END IF; END$$")
                       .arg(role));
    }

    // A fresh, empty database.
    bool createDatabase(const QString &name) const
    {
        return sql(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE \"%1\"").arg(name));
    }

private:
    QString dataFolder() const { return dir_.filePath(QStringLiteral("data")); }

    static bool asPostgres(const QString &program, const QStringList &arguments, int timeoutMs = 10000)
    {
        QProcess process;
        process.setWorkingDirectory(QStringLiteral("/"));
        process.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), program} + arguments);
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished(2000);
            return false;
        }
        if (process.exitCode() != 0)
            qWarning("%s: %s", qPrintable(program), process.readAllStandardError().constData());
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    QTemporaryDir dir_;
    int port_ = 5432;
    mutable QString lastError_;
    bool quietFailures_ = false;
    bool ready_ = false;
    bool running_ = false;
    bool tcp_ = false;
};
