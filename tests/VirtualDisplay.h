#pragma once

// An X display in memory (Xvfb) for tests and benchmarks that need a real X
// server, started on a free display number and stopped with the object.

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSize>
#include <QStandardPaths>
#include <QThread>

#include <unistd.h>

namespace TestDisplay {

inline void StopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(2000)) {
        process.kill();
        process.waitForFinished(2000);
    }
}

inline bool HaveProgram(const QString &name)
{
    return !QStandardPaths::findExecutable(name).isEmpty();
}

// An X display in memory.
class Display {
public:
    ~Display() { StopProcess(process_); }

    bool Start(QString *error, QSize size = QSize(1024, 768))
    {
        for (int attempt = 0; attempt < 20; ++attempt) {
            const int number = 70 + int((::getpid() + attempt * 7) % 400);
            if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
                continue;
            process_.setProgram(QStringLiteral("Xvfb"));
            process_.setArguments({QStringLiteral(":%1").arg(number), QStringLiteral("-screen"), QStringLiteral("0"),
                                   QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height()),
                                   QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-noreset")});
            process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            process_.setStandardOutputFile(QProcess::nullDevice());
            process_.start();
            if (!process_.waitForStarted(3000))
                break;
            QElapsedTimer timer;
            timer.start();
            const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
            while (timer.elapsed() < 5000 && process_.state() == QProcess::Running && !QFile::exists(socket))
                QThread::msleep(20);
            if (process_.state() == QProcess::Running && QFile::exists(socket)) {
                name_ = QStringLiteral(":%1").arg(number);
                return true;
            }
            StopProcess(process_);
        }
        *error = QStringLiteral("Xvfb did not start");
        return false;
    }

    QString Name() const { return name_; }
    qint64 Pid() const { return process_.processId(); }

    QProcessEnvironment Environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), name_);
        return env;
    }

private:
    QProcess process_;
    QString name_;
};

} // namespace TestDisplay
