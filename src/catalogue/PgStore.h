#pragma once

#include "CatalogueStore.h"

#include <QHash>
#include <QTimer>
#include <memory>

class LocalPasswords;
class QSqlDatabase;

// The catalogue in a PostgreSQL database that a team shares, through Qt SQL's
// PostgreSQL driver. Every change is one transaction; triggers announce it to
// every copy of the program, which listens and passes on the changes others
// made. Passwords never go to the database: each user keeps their own for the
// shared servers in a local file (LocalPasswords) keyed by the server's id.
//
// A lost connection is found within a second; the store is then read-only and
// connects again by itself, every half second while the server refuses at once,
// every 10 s while attempts wait for their time-out; it says so through availability.
// Passwords another copy of the program saves in the user's password file are seen
// within a second too, as changes of those servers.
class PgStore : public CatalogueStore {
    Q_OBJECT
public:
    // address: "postgresql://[user[:password]@][host][:port]/database[?host=/socket/folder&...]"
    explicit PgStore(const QString &address);
    ~PgStore() override;

    // The address without its password; empty when it is no PostgreSQL address.
    static QString Describe(const QString &address);

    QString location() const override { return location_; }
    bool shared() const override { return true; }
    // The file holding this user's passwords for the catalogue's servers.
    QString passwordFile() override;

    std::vector<TSvrGroup> readGroups(int &maxGroupId) override;
    std::vector<TSvrItem> readServers(int &maxServerId) override;
    std::vector<TSvrGroup> fetchGroups(std::span<const int> ids) override;
    std::vector<TSvrItem> fetchServers(std::span<const int> ids) override;

    int addGroup(const QString &name, int heldMax) override;
    int registerGroup(const TSvrGroup &group, int heldMax) override;
    void renameGroup(int groupId, const QString &name) override;
    void renameGroupChecked(int groupId, const QString &name, int version) override;
    void deleteGroup(int groupId) override;

    std::vector<int> addServers(std::span<const TSvrItem> servers, int heldMax) override;
    bool writeServer(const TSvrItem &server) override;
    bool writeServerChecked(const TSvrItem &server, int version) override;
    int recordVersion(CatalogueKind kind, int id) const override;
    void setServerGroup(int serverId, int groupId) override;
    void deleteServer(int serverId) override;

    // Gives servers and groups their own ids where the database has them free, in one
    // transaction; returns the ids they got.
    std::vector<int> insertGroupsKeepingIds(std::span<const TSvrGroup> groups);
    std::vector<int> insertServersKeepingIds(std::span<const TSvrItem> servers);

private:
    QSqlDatabase db() const;
    void open();
    void ensureOpen();
    void useCatalogueId(const QString &id);
    void goOffline(const QString &reason);
    void watch();
    void checkPasswords();
    bool connectionLost() const;
    void onNotification(const QString &name, const QVariant &payload, bool fromSelf);
    void flushNotifications();
    // Runs the change in one transaction; any failure rolls it back and throws
    // "Unable to write to <location>" with the database's reason. A change that takes
    // new ids of the table idsOf is tried again when an id it took was in use already.
    void write(const std::function<void()> &change, const QString &idsOf = {});
    bool followIdsInUse(const QString &table);
    std::vector<int> takeIds(const QString &sequence, int count);
    std::vector<TSvrItem> selectServers(const QString &where, const QVariantList &binds);
    std::vector<TSvrGroup> selectGroups(const QString &where, const QVariantList &binds);
    int highestId(const QString &table);
    void insertServers(std::span<const TSvrItem> servers, const std::vector<int> &ids);
    std::vector<int> keepIdsWhereFree(const QString &table, const std::vector<int> &wanted);

    QString connectionName_;
    QString location_;
    bool opened_ = false;
    bool online_ = false;
    bool everOnline_ = false; // the first failure to connect is announced too
    QString offlineReason_;
    QString catalogueId_;
    std::unique_ptr<LocalPasswords> passwords_;
    // The row_version of each record as last read or written here.
    QHash<int, int> serverVersions_;
    QHash<int, int> groupVersions_;
    QTimer watch_;
    struct Notice {
        CatalogueKind kind;
        CatalogueVerb verb;
        int id;
    };
    QList<Notice> pending_;
    QTimer flush_;
};
