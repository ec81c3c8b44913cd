#include "Keyring.h"

#include <QPointer>
#include <QTimer>

#include <memory>
#include <qt6keychain/keychain.h>

namespace {

// The texts with which the keyring's client says that nothing on the bus provides
// the Secret Service: then no keyring is running, which is no fault of an entry.
const char *const kNoServiceSigns[] = {
    "org.freedesktop.secrets",
    "ServiceUnknown",
    "NoReply",
    "Cannot autolaunch",
    "Could not connect",
    "was not provided by any",
};

QString answerlessText(int timeoutMs)
{
    return QStringLiteral("系统密钥环在 %1 秒内没有应答").arg(timeoutMs / 1000);
}

} // namespace

Keyring::Keyring(QObject *parent, int timeoutMs) : QObject(parent), timeoutMs_(timeoutMs) {}

Keyring::~Keyring() = default;

QString Keyring::Service()
{
    return QStringLiteral("brennic");
}

void Keyring::read(const QString &key, Answer answer)
{
    start(Kind::Read, key, {}, std::move(answer));
}

void Keyring::write(const QString &key, const QString &password, Answer answer)
{
    start(Kind::Write, key, password, std::move(answer));
}

void Keyring::remove(const QString &key, Answer answer)
{
    start(Kind::Remove, key, {}, std::move(answer));
}

void Keyring::start(Kind kind, const QString &key, const QString &password, Answer answer)
{
    if (unavailable_) {
        KeyringAnswer none;
        none.unavailable = true;
        none.error = reason_;
        QTimer::singleShot(0, this, [answer = std::move(answer), none] { answer(none); });
        return;
    }
    QKeychain::Job *job = nullptr;
    switch (kind) {
    case Kind::Read:
        job = new QKeychain::ReadPasswordJob(Service());
        break;
    case Kind::Write: {
        auto *writing = new QKeychain::WritePasswordJob(Service());
        writing->setTextData(password);
        job = writing;
        break;
    }
    case Kind::Remove:
        job = new QKeychain::DeletePasswordJob(Service());
        break;
    }
    job->setKey(key);
    job->setInsecureFallback(false);
    job->setAutoDelete(true);

    // Whichever comes first answers: the job, or the time-out. A job that never
    // ends is left to itself; its late end reaches no one.
    auto answered = std::make_shared<bool>(false);
    auto shared = std::make_shared<Answer>(std::move(answer));
    QPointer<Keyring> self(this);
    ++pending_;
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, answered, shared, timer] {
        timer->deleteLater();
        if (std::exchange(*answered, true))
            return;
        --pending_;
        KeyringAnswer late;
        late.error = answerlessText(timeoutMs_);
        (*shared)(late);
    });
    connect(job, &QKeychain::Job::finished, this, [this, self, kind, answered, shared, timer](QKeychain::Job *done) {
        if (!self || std::exchange(*answered, true))
            return;
        timer->stop();
        timer->deleteLater();
        --pending_;
        QString found;
        if (auto *reading = qobject_cast<QKeychain::ReadPasswordJob *>(done))
            found = reading->textData();
        (*shared)(answerOf(kind, done->error(), done->errorString(), found));
    });
    timer->start(timeoutMs_);
    job->start();
}

KeyringAnswer Keyring::answerOf(Kind kind, int error, const QString &errorText, const QString &password)
{
    KeyringAnswer answer;
    if (error == QKeychain::NoError) {
        answer.ok = true;
        answer.password = password;
        return answer;
    }
    if (error == QKeychain::EntryNotFound) {
        answer.missing = true;
        answer.ok = kind == Kind::Remove; // nothing to remove is as good as removed
        return answer;
    }
    answer.error = errorText.isEmpty() ? QStringLiteral("未知错误") : errorText;
    if (meansNoKeyring(error, errorText)) {
        answer.unavailable = true;
        if (!std::exchange(unavailable_, true)) {
            reason_ = answer.error;
            emit unavailable(reason_);
        }
    }
    return answer;
}

bool Keyring::meansNoKeyring(int error, const QString &errorText) const
{
    if (error == QKeychain::NoBackendAvailable)
        return true;
    for (const char *sign : kNoServiceSigns)
        if (errorText.contains(QLatin1String(sign), Qt::CaseInsensitive))
            return true;
    return false;
}
