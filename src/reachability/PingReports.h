#pragma once

#include "PingTarget.h"

#include <QObject>

// One channel for the reports of many status pollers: a receiver connects once,
// however many pollers report through it, rather than once per poller. Each
// report names the target the poller is bound to and the status it found;
// each result also comes with its round trip, for the targets' history.
class PingReports : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void statusReported(PingTarget *target, HostStatus status);
    // Before statusReported: the same result with the reply's round trip in
    // microseconds (-1 without a reply).
    void resultReported(PingTarget *target, HostStatus status, qint64 latencyUs);
};
