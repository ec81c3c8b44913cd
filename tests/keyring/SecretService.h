#pragma once

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

// A private D-Bus session bus of the test's own, optionally with a GNOME keyring
// daemon (the Secret Service) in it, unlocked with a known password. The test
// process is pointed at that bus, so nothing reaches the user's keyring. The bus has
// no activatable services: a name nobody owns stays unowned. Both daemons are
// killed when the object goes.
class SecretService {
public:
    // Why the daemons cannot run here; empty when they can.
    static QString Missing()
    {
        for (const char *tool : {"dbus-daemon", "gnome-keyring-daemon"})
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                return QStringLiteral("%1 is not installed (packages dbus, gnome-keyring)").arg(QLatin1String(tool));
        return {};
    }

    // Starts the bus, and the keyring in it when withKeyring; false with the reason in error().
    bool start(bool withKeyring)
    {
        if (!home_.isValid())
            return fail(QStringLiteral("no temporary folder"));
        const QString runtime = home_.filePath(QStringLiteral("runtime"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("HOME", QFile::encodeName(home_.path()));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home_.filePath(QStringLiteral("data"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.filePath(QStringLiteral("config"))));
        qputenv("XDG_CURRENT_DESKTOP", "GNOME");
        if (!startBus())
            return false;
        if (withKeyring && !startKeyring())
            return false;
        return true;
    }

    const QString &error() const { return error_; }
    const QString &address() const { return address_; }

    ~SecretService()
    {
        stop(keyring_);
        stop(bus_);
    }

private:
    bool fail(const QString &why)
    {
        error_ = why;
        return false;
    }

    bool startBus()
    {
        const QString config = home_.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return fail(QStringLiteral("cannot write the bus configuration"));
        file.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                  " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                  "<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>\n"
                                  "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                                  "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>\n"
                                  "</busconfig>\n")
                       .arg(home_.path())
                       .toUtf8());
        file.close();
        bus_.setProgram(QStringLiteral("dbus-daemon"));
        bus_.setArguments({QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                           QStringLiteral("--print-address=1")});
        bus_.setProcessChannelMode(QProcess::SeparateChannels);
        bus_.start();
        if (!bus_.waitForStarted(5000))
            return fail(QStringLiteral("dbus-daemon did not start"));
        const QDeadlineTimer deadline(5000);
        while (!bus_.canReadLine() && !deadline.hasExpired())
            bus_.waitForReadyRead(100);
        address_ = QString::fromUtf8(bus_.readLine()).trimmed();
        if (address_.isEmpty())
            return fail(QStringLiteral("dbus-daemon gave no address"));
        qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
        return true;
    }

    bool startKeyring()
    {
        keyring_.setProgram(QStringLiteral("gnome-keyring-daemon"));
        keyring_.setArguments({QStringLiteral("--foreground"), QStringLiteral("--components=secrets"),
                               QStringLiteral("--unlock")});
        keyring_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        keyring_.start();
        if (!keyring_.waitForStarted(5000))
            return fail(QStringLiteral("gnome-keyring-daemon did not start"));
        // It reads the password up to the end of its input before it joins the bus.
        keyring_.write("known-password");
        keyring_.waitForBytesWritten(3000);
        keyring_.closeWriteChannel();
        // Ready once it owns the Secret Service's name on the bus.
        QDBusConnection bus = QDBusConnection::connectToBus(address_, QStringLiteral("secret-service-probe"));
        const QDeadlineTimer deadline(10000);
        bool owned = false;
        while (!(owned = bus.interface() && bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")))
               && !deadline.hasExpired() && keyring_.state() == QProcess::Running)
            QThread::msleep(100);
        const QString state = bus.isConnected() ? QStringLiteral("connected") : bus.lastError().message();
        QDBusConnection::disconnectFromBus(QStringLiteral("secret-service-probe"));
        return owned ? true
                     : fail(QStringLiteral("the keyring did not take its name on the bus (%1, %2)")
                                .arg(state)
                                .arg(keyring_.state() == QProcess::Running ? QStringLiteral("running") : QStringLiteral("ended")));
    }

    static void stop(QProcess &process)
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }

    QTemporaryDir home_;
    QProcess bus_;
    QProcess keyring_;
    QString address_;
    QString error_;
};
