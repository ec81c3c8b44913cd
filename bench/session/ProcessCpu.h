#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>

#include <unistd.h>

// CPU time a process has used so far, all its threads; 0 when the process is
// gone. Added up from each thread's scheduler time, in nanoseconds, where the
// kernel keeps it: the ticks of /proc/PID/stat (10 ms) are too coarse for a
// client that spends a few milliseconds a second. A thread that ended takes
// its time with it there, which a steady session does not do.
inline double ProcessCpuSeconds(qint64 pid)
{
    const QString task = QStringLiteral("/proc/%1/task").arg(pid);
    double nanoseconds = 0;
    bool kept = false;
    for (const QString &thread : QDir(task).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile schedstat(task + QLatin1Char('/') + thread + QStringLiteral("/schedstat"));
        if (!schedstat.open(QIODevice::ReadOnly))
            continue;
        nanoseconds += schedstat.readAll().split(' ').value(0).toDouble();
        kept = true;
    }
    if (kept)
        return nanoseconds / 1e9;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}
