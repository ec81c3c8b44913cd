#pragma once

#include "PingTarget.h"
#include "PingThread.h"

#include <QObject>
#include <QString>
#include <QStringList>

// A stand-in for the manager's server row: a poller bound to it probes its
// address, and it shows the status words its pollers report by signal,
// recording each change, as the manager's list does.
class TestRow final : public PingTarget {
public:
    explicit TestRow(QString address, unsigned short port = 3389) : address_(std::move(address)), port_(port) {}

    QString address() const override { return address_; }
    unsigned short port() const override { return port_; }
    QString status() const { return status_; }

    // Binds the poller to this row and shows what it reports.
    void bind(TPingThread *poller)
    {
        poller->setListItem(this);
        QObject::connect(poller, &TPingThread::statusReported, poller, [this, poller](HostStatus status) {
            if (poller->ListItem() == this) {
                ++taken;
                show(TPingThread::StatusText(status));
            }
        });
    }

    void setAddress(const QString &address) { address_ = address; }
    void clearStatus() { status_.clear(); }

    int writes = 0;
    int taken = 0; // reports taken, changes or not
    QStringList history;

private:
    void show(const QString &text)
    {
        if (text == status_)
            return;
        status_ = text;
        ++writes;
        history.append(text);
    }

    QString address_;
    unsigned short port_;
    QString status_;
};
