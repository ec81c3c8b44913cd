#include "PingThread.h"

#include "AppError.h"
#include "PingTarget.h"

#include <QUrl>

namespace {

// The host as the resolver takes it: a name in other than ASCII letters goes
// in its ASCII (punycode) form.
QByteArray hostBytes(const QString &address)
{
    const QString host = address.trimmed();
    for (const QChar c : host) {
        if (c.unicode() > 0x7f)
            return QUrl::toAce(host);
    }
    return host.toLatin1();
}

} // namespace

QString TPingThread::StatusText(HostStatus status)
{
    switch (status) {
    case HostStatus::Online:
        return Online;
    case HostStatus::Offline:
    case HostStatus::NotFound:
        return Offline;
    case HostStatus::Unknown:
        break;
    }
    return QString();
}

HostStatus TPingThread::StatusOf(int iRet)
{
    if (iRet >= 1)
        return HostStatus::Online;
    return iRet == 0 ? HostStatus::Offline : HostStatus::NotFound;
}

TPingThread::TPingThread(bool CreateSuspended, QObject *parent)
    : TPingThread(CreateSuspended, PingEngine::shared(), parent)
{
}

TPingThread::TPingThread(bool CreateSuspended, PingEngine *engine, QObject *parent)
    : QObject(parent), engine_(engine)
{
    if (!engine)
        throw AppError(QStringLiteral("状态检测没有可用的探测引擎。"));
    // Without an owner of its own, a poller belongs to its engine and ends with it.
    if (!parent)
        setParent(engine);
    handle_ = engine->attach(this);
    if (!CreateSuspended)
        Resume();
}

TPingThread::~TPingThread()
{
    if (engine_)
        engine_->detach(handle_);
}

void TPingThread::setListItem(PingTarget *row)
{
    if (FListItem == row)
        return;
    FListItem = row;
    // A running poller probes the new row's address from its next cycle on.
    if (state_ == State::Running && row && !terminated_)
        startProbing();
}

void TPingThread::Resume()
{
    switch (state_) {
    case State::Made:
    case State::Paused:
        if (!FListItem || terminated_) {
            end();
            return;
        }
        state_ = State::Running;
        startProbing();
        return;
    case State::Running:
    case State::Ended:
        return;
    }
}

void TPingThread::Suspend()
{
    if (state_ != State::Running)
        return;
    state_ = State::Paused;
    if (engine_)
        engine_->stop(handle_);
}

void TPingThread::Terminate()
{
    terminated_ = true;
    end();
}

void TPingThread::startProbing()
{
    if (engine_)
        engine_->start(handle_, hostBytes(FListItem->address()), FListItem->port(), timing_);
}

void TPingThread::end()
{
    if (state_ == State::Ended)
        return;
    state_ = State::Ended;
    if (engine_)
        engine_->stop(handle_);
    deleteLater();
}

void TPingThread::pingResult(int iRet, qint64 latencyUs)
{
    ret_ = iRet;
    latencyUs_ = latencyUs;
    ++cycles_;
    UpdateStatus();
}

void TPingThread::UpdateStatus()
{
    if (terminated_ || state_ != State::Running)
        return;
    if (!FListItem) {
        Suspend();
        return;
    }
    const HostStatus status = StatusOf(ret_);
    emit resultReported(status, latencyUs_);
    emit statusReported(status);
    // A receiver may have paused, stopped or unbound the poller meanwhile.
    const auto reporting = [this] { return reports_ && !terminated_ && state_ == State::Running && FListItem; };
    if (reporting())
        emit reports_->resultReported(FListItem, status, latencyUs_);
    if (reporting())
        emit reports_->statusReported(FListItem, status);
    if (!terminated_ && state_ == State::Running)
        emit statusUpdated(ret_);
}
