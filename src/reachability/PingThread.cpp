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
    : QObject(parent), fEngine(engine)
{
    if (!engine)
        throw AppError(QStringLiteral("状态检测没有可用的探测引擎。"));
    // Without an owner of its own, a poller belongs to its engine and ends with it.
    if (!parent)
        setParent(engine);
    fHandle = engine->attach(this);
    if (!CreateSuspended)
        Resume();
}

TPingThread::~TPingThread()
{
    if (fEngine)
        fEngine->detach(fHandle);
}

void TPingThread::setListItem(PingTarget *row)
{
    if (FListItem == row)
        return;
    FListItem = row;
    // A running poller probes the new row's address from its next cycle on.
    if (fState == State::Running && row && !fTerminated)
        startProbing();
}

void TPingThread::Resume()
{
    switch (fState) {
    case State::Made:
    case State::Paused:
        if (!FListItem || fTerminated) {
            end();
            return;
        }
        fState = State::Running;
        startProbing();
        return;
    case State::Running:
    case State::Ended:
        return;
    }
}

void TPingThread::Suspend()
{
    if (fState != State::Running)
        return;
    fState = State::Paused;
    if (fEngine)
        fEngine->stop(fHandle);
}

void TPingThread::Terminate()
{
    fTerminated = true;
    end();
}

void TPingThread::startProbing()
{
    if (fEngine)
        fEngine->start(fHandle, hostBytes(FListItem->address()), FListItem->port(), fTiming);
}

void TPingThread::end()
{
    if (fState == State::Ended)
        return;
    fState = State::Ended;
    if (fEngine)
        fEngine->stop(fHandle);
    deleteLater();
}

void TPingThread::pingResult(int iRet, qint64 latencyUs)
{
    fRet = iRet;
    fLatencyUs = latencyUs;
    ++fCycles;
    UpdateStatus();
}

void TPingThread::UpdateStatus()
{
    if (fTerminated || fState != State::Running)
        return;
    if (!FListItem) {
        Suspend();
        return;
    }
    const HostStatus status = StatusOf(fRet);
    emit resultReported(status, fLatencyUs);
    emit statusReported(status);
    // A receiver may have paused, stopped or unbound the poller meanwhile.
    const auto reporting = [this] { return fReports && !fTerminated && fState == State::Running && FListItem; };
    if (reporting())
        emit fReports->resultReported(FListItem, status, fLatencyUs);
    if (reporting())
        emit fReports->statusReported(FListItem, status);
    if (!fTerminated && fState == State::Running)
        emit statusUpdated(fRet);
}
