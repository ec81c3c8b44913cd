#pragma once

#include "PingTarget.h"

#include <QObject>

// One channel for the reports of many status pollers: a receiver connects once,
// however many pollers report through it, rather than once per poller. Each
// report names the target the poller is bound to and the status it found.
class PingReports : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void statusReported(PingTarget *target, HostStatus status);
};
