#pragma once

#include <QObject>
#include <QString>
#include <functional>

// What one request to the desktop keyring came to.
struct KeyringAnswer {
    bool ok = false;          // done; for a read: an entry was there
    bool missing = false;     // a read or a removal found no entry
    bool unavailable = false; // no keyring answers on the desktop's bus
    QString password;         // what a read found
    QString error;            // why it failed, for the user
};

// The desktop keyring (Secret Service) through QtKeychain, entry by entry, never
// waiting: each request answers later on this thread, once, and at the latest after
// the time-out. The first request that finds no keyring running reports it once
// (unavailable); later ones answer unavailable as well, without asking again.
class Keyring : public QObject {
    Q_OBJECT
public:
    using Answer = std::function<void(const KeyringAnswer &)>;

    explicit Keyring(QObject *parent = nullptr, int timeoutMs = 15000);
    ~Keyring() override;

    void read(const QString &key, Answer answer);
    void write(const QString &key, const QString &password, Answer answer);
    void remove(const QString &key, Answer answer);

    // Known to be absent since a request found it so.
    bool knownUnavailable() const { return unavailable_; }
    // Requests started and not yet answered.
    int pending() const { return pending_; }

    // The service name the entries are filed under.
    static QString Service();

signals:
    void unavailable(const QString &reason);

private:
    enum class Kind {
        Read,
        Write,
        Remove
    };
    void start(Kind kind, const QString &key, const QString &password, Answer answer);
    KeyringAnswer answerOf(Kind kind, int error, const QString &errorText, const QString &password);
    bool meansNoKeyring(int error, const QString &errorText) const;

    int timeoutMs_;
    int pending_ = 0;
    bool unavailable_ = false;
    QString reason_;
};
