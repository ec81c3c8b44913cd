#pragma once

#include "StatusRow.h"

#include <QString>
#include <QStringList>

// A stand-in for the manager's server row: it records what the poller writes.
class TestRow : public StatusRow {
public:
    explicit TestRow(QString address, unsigned short port = 3389, bool statusColumn = true)
        : address_(std::move(address)), port_(port), statusColumn_(statusColumn)
    {
    }

    QString address() const override { return address_; }
    unsigned short port() const override { return port_; }
    bool hasStatusColumn() const override { return statusColumn_; }
    QString status() const override { return status_; }
    void setStatus(const QString &text) override
    {
        status_ = text;
        ++writes;
        history.append(text);
    }

    void setAddress(const QString &address) { address_ = address; }
    void clearStatus() { status_.clear(); }

    int writes = 0;
    QStringList history;

private:
    QString address_;
    unsigned short port_;
    bool statusColumn_;
    QString status_;
};
