#include "HistoryStore.h"

#include "HistoryCodec.h"
#include "ReachabilityHistory.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

#include <memory>

namespace {

Q_LOGGING_CATEGORY(lcHistory, "brennic.history")

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        qCWarning(lcHistory).noquote() << "cannot write" << path << file.errorString();
        return false;
    }
    return true;
}

} // namespace

HistoryStore::HistoryStore(ReachabilityHistory &history, Clock &clock, const QString &identity, QObject *parent)
    : HistoryStore(history, clock, identity, fileFor(identity), parent)
{
}

HistoryStore::HistoryStore(ReachabilityHistory &history, Clock &clock, const QString &identity, const QString &path, QObject *parent)
    : QObject(parent), history_(history), clock_(clock), path_(path), key_(catalogueKey(identity)), timer_(clock)
{
    connect(&timer_, &ClockTimer::timeout, this, &HistoryStore::tick);
    timer_.start(SaveInterval);
}

HistoryStore::~HistoryStore()
{
    if (!worker_)
        return;
    // A write already handed over (the one at the program's end) still happens.
    QMetaObject::invokeMethod(
        worker_, [thread = &thread_] { thread->quit(); }, Qt::QueuedConnection);
    thread_.wait();
}

QString HistoryStore::stateFolder()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/brennic");
}

QString HistoryStore::iniIdentity(const QString &iniPath)
{
    const QFileInfo info(iniPath);
    const QString canonical = info.canonicalFilePath();
    return QStringLiteral("ini:") + (canonical.isEmpty() ? info.absoluteFilePath() : canonical);
}

QString HistoryStore::sharedIdentity(const QString &catalogueId)
{
    return QStringLiteral("shared:") + catalogueId;
}

QByteArray HistoryStore::catalogueKey(const QString &identity)
{
    return QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha256);
}

QString HistoryStore::fileFor(const QString &identity)
{
    const QString name = QString::fromLatin1(catalogueKey(identity).toHex().left(32));
    return stateFolder() + QStringLiteral("/history-") + name + QStringLiteral(".bin");
}

bool HistoryStore::load()
{
    QFile file(path_);
    if (!file.exists())
        return false;
    if (file.size() > HistoryCodec::MaxFileBytes) {
        qCWarning(lcHistory).noquote() << "ignored" << path_ << ": too large";
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcHistory).noquote() << "cannot read" << path_ << file.errorString();
        return false;
    }
    // As large as the file is, which is bounded above: no room asked for beyond it.
    const QByteArray bytes = file.read(file.size());
    QString why;
    std::optional<HistoryCodec::Decoded> decoded = HistoryCodec::decode(bytes, key_, history_.nowSecond(), &why);
    if (!decoded) {
        qCWarning(lcHistory).noquote() << "ignored" << path_ << ":" << why;
        return false;
    }
    history_.restore(std::move(decoded->tracks));
    savedRevision_ = history_.revision();
    return true;
}

void HistoryStore::tick()
{
    if (history_.revision() == savedRevision_)
        return;
    if (lastWrite_ && clock_.now() - *lastWrite_ < SaveInterval)
        return;
    startWrite();
}

void HistoryStore::saveNow()
{
    if (inFlight_)
        return;
    // A copy whose memory is still being made ready waits no longer.
    preparing_ = false;
    lastWrite_ = clock_.now();
    writeCopy(std::make_shared<HistoryCodec::Tracks>());
}

void HistoryStore::startWrite()
{
    if (inFlight_ || preparing_)
        return;
    lastWrite_ = clock_.now();
    if (history_.size() < PrepareFromServers) {
        writeCopy(std::make_shared<HistoryCodec::Tracks>());
        return;
    }
    // With many servers the copy is megabytes, and taking fresh pages is most
    // of its cost: the writer's thread makes them ready (and touches them), the
    // copy here is then a plain memory copy of fixed-size records, and the
    // memory goes with the write rather than staying for good.
    preparing_ = true;
    const size_t count = size_t(history_.size());
    QMetaObject::invokeMethod(
        writer(),
        [this, count] {
            std::shared_ptr<HistoryCodec::Tracks> tracks;
            {
                const std::lock_guard lock(handOver_);
                tracks = std::make_shared<HistoryCodec::Tracks>(count);
            }
            QMetaObject::invokeMethod(
                this, [this, tracks = std::move(tracks)]() mutable { copyPrepared(std::move(tracks)); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void HistoryStore::copyPrepared(std::shared_ptr<HistoryCodec::Tracks> tracks)
{
    if (!preparing_ || inFlight_)
        return; // saveNow wrote meanwhile
    preparing_ = false;
    writeCopy(std::move(tracks));
}

QObject *HistoryStore::writer()
{
    // The writer's thread starts with the first write: a store that only reads
    // (or finds nothing new) runs none.
    if (!worker_) {
        worker_ = new QObject;
        worker_->moveToThread(&thread_);
        connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
        thread_.setObjectName(QStringLiteral("history-writer"));
        thread_.start(QThread::LowPriority);
    }
    return worker_;
}

void HistoryStore::writeCopy(std::shared_ptr<HistoryCodec::Tracks> tracks)
{
    inFlight_ = true;
    savedRevision_ = history_.revision();
    {
        const std::lock_guard lock(handOver_);
        history_.snapshot(*tracks);
    }
    const qint64 savedAt = history_.nowSecond();
    // Packing, hashing and writing happen on the writer's thread.
    QMetaObject::invokeMethod(
        writer(),
        [this, tracks = std::move(tracks), savedAt, path = path_, key = key_]() mutable {
            QByteArray bytes;
            {
                const std::lock_guard lock(handOver_);
                bytes = HistoryCodec::encode(*tracks, key, savedAt);
                tracks.reset();
            }
            const bool ok = writeFile(path, bytes);
            QMetaObject::invokeMethod(
                this, [this, ok] { finishWrite(ok); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void HistoryStore::finishWrite(bool ok)
{
    inFlight_ = false;
    emit written(ok);
}
