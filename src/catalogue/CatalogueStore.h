#pragma once

#include "RdpCommon.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <span>
#include <vector>

// What a change a store announces is about.
enum class CatalogueKind {
    Group,
    Server
};
enum class CatalogueVerb {
    Added,
    Changed,
    Moved,
    Deleted
};

// Where the catalogue is kept: the server list file, or a database a team shares.
// The catalogue's operations (RdpCommon) keep the lists in memory and ask the
// store to make each change lasting; the store either makes the whole change or
// throws AppError and makes none of it. Servers are handed over and back with
// their group's id only; the catalogue looks the name up itself.
//
// A shared store announces the changes other copies of the program make
// (changedElsewhere) and whether it can be written at the moment (availability).
class CatalogueStore : public QObject {
    Q_OBJECT
public:
    ~CatalogueStore() override = default;

    // Where the store is, for the user: a file's full path or a database's address without password.
    virtual QString location() const = 0;
    // A store others write too: changes arrive through changedElsewhere.
    virtual bool shared() const { return false; }
    // The file of this user's own passwords for a store that keeps none; empty for one that does.
    virtual QString passwordFile() { return {}; }

    // The groups and the highest group id given out.
    virtual std::vector<TSvrGroup> readGroups(int &maxGroupId) = 0;
    // The servers in ascending id and the highest server id given out.
    virtual std::vector<TSvrItem> readServers(int &maxServerId) = 0;
    // The notice about records that could be read only in part; empty if none.
    virtual QStringList takeLoadProblems() { return {}; }
    // The groups or servers of these ids as they stand now; ids no longer there are
    // left out. Throws AppError when the store cannot be read.
    virtual std::vector<TSvrGroup> fetchGroups(std::span<const int> ids);
    virtual std::vector<TSvrItem> fetchServers(std::span<const int> ids);

    // The version of a record as this store last read or wrote it: a store others
    // change too numbers each change of a record; 0 where the store keeps none.
    virtual int recordVersion(CatalogueKind, int) const { return 0; }

    // Each returns the id given out; heldMax is the highest id this program has seen.
    virtual int addGroup(const QString &name, int heldMax) = 0;
    // Stores the group under its own id; returns the group counter afterwards.
    virtual int registerGroup(const TSvrGroup &group, int heldMax) = 0;
    virtual void renameGroup(int groupId, const QString &name) = 0;
    // As renameGroup, but refused with EGroupChanged when the stored group is no
    // longer at `version` (see recordVersion); version 0 renames whatever it is.
    virtual void renameGroupChecked(int groupId, const QString &name, int version);
    virtual void deleteGroup(int groupId) = 0;

    // Adds the servers (their Id ignored) in one change; returns their ids in order.
    virtual std::vector<int> addServers(std::span<const TSvrItem> servers, int heldMax) = 0;
    // Writes every field of the server. False when the store no longer has it.
    virtual bool writeServer(const TSvrItem &server) = 0;
    // As writeServer, but refused with EServerChanged when the stored server is no
    // longer at `version`; version 0 writes over whatever it is.
    virtual bool writeServerChecked(const TSvrItem &server, int version);
    virtual void setServerGroup(int serverId, int groupId) = 0;
    virtual void deleteServer(int serverId) = 0;

signals:
    // Another copy of the program changed these groups or servers.
    void changedElsewhere(CatalogueKind kind, CatalogueVerb verb, const QList<int> &ids);
    // The store was lost (online false, with the reason) or is back; while lost nothing can be written.
    void availability(bool online, const QString &reason);
    // The store may hold changes the catalogue has not seen: read it again.
    void changedUnseen();
    // A change is waiting for the store's answer (true) long enough to show, or no longer (false).
    void waiting(bool underWay);
};
