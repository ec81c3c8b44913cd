#pragma once

#include "RdpCommon.h"

#include <QObject>
#include <QStringList>
#include <memory>

class CatalogueEvents;
class CatalogueStore;

// One catalogue: its groups and servers, the id counters and the store that
// keeps them. The program installs one (Install); the catalogue's free functions
// and the names SvrList, SvrGroups, MaxGroupID and MaxServerId act on that one.
// Others can live beside it, each with a store of its own.
//
// The lists do not exist until they are first loaded. Releasing a catalogue
// releases its store first, then the groups, then the servers.
class Catalogue : public QObject {
    Q_OBJECT
public:
    explicit Catalogue(std::unique_ptr<CatalogueStore> store);
    ~Catalogue() override;

    // The installed catalogue; the default one (the server list file beside the
    // program) is installed on first use when none is.
    static Catalogue &Current();
    static bool HasCurrent();
    // Makes the catalogue the installed one, releasing the one before it.
    static void Install(std::unique_ptr<Catalogue> catalogue);
    // Releases the installed catalogue, as a process exit would.
    static void ReleaseCurrent();

    CatalogueStore &Store() { return *store_; }
    CatalogueEvents &Events() { return *events_; }
    QString Location() const;
    bool Shared() const;
    // The address a database catalogue was opened with (password included), for
    // copying it whole; empty for a file.
    const QString &DatabaseAddress() const { return databaseAddress_; }
    void SetDatabaseAddress(const QString &address) { databaseAddress_ = address; }

    std::unique_ptr<TSvrList> SvrList;
    std::unique_ptr<TSvrGroups> SvrGroups;
    int MaxGroupID = 0;
    int MaxServerId = 0;

    void LoadGroups();
    void LoadServers();
    TSvrGroups &GetSvrGroups();
    TSvrList &GetSvrList();
    QString TakeLoadWarning();

    void WriteSvrItem(const TSvrItem &item);
    TSvrGroup GetGroup(int groupId);
    int GetGroupIdByName(const QString &name);
    int AddGroup(const QString &name);
    int RegisterGroup(const TSvrGroup &group);
    void RenameGroup(int groupId, const QString &name);
    void RenameGroup(int groupId, const QString &name, int version);
    int GroupVersion(int groupId);
    int SvrItemVersion(int serverId);
    bool GroupHasServers(int groupId);
    void DeleteGroup(int groupId);

    PSvrItem AddSvrItem(const TClientSettings &settings, int groupId, const QString &description);
    std::vector<PSvrItem> AddSvrItems(std::span<const TSvrItem> servers, int groupId);
    std::vector<PSvrItem> AddSvrItemsToGroups(std::span<const TSvrItem> servers);
    PSvrItem GetSvrItem(int serverId);
    void UpdateSvrItem(int serverId, const TClientSettings &settings, const QString &description);
    void UpdateSvrItem(int serverId, const TClientSettings &settings, const QString &description, int version);
    void SetSvrGroup(int serverId, const QString &groupName);
    void MoveSvrItem(PSvrItem server, const QString &groupName);
    void DeleteSvrItem(PSvrItem server);

    // The loaded group of the id; null when there is none.
    TSvrGroup *FindGroup(int groupId);
    // The name a server of this group id shows: its group's, or the fallback name.
    QString GroupNameOf(int groupId);

private:
    std::unique_ptr<CatalogueEvents> events_;
    std::unique_ptr<CatalogueStore> store_;
    QStringList loadProblems_;
    QString databaseAddress_;
};

// Made by the catalogue's set-up (CatalogueSetup) for a program that installed none.
std::unique_ptr<Catalogue> MakeDefaultCatalogue();
