#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <span>
#include <vector>

#include "AppError.h"

class CatalogueStore;
class IniFile;

// Connection and display settings of one server.
struct TClientSettings {
    QString Server;
    int Port = 3389;
    QString Domain;
    QString User;
    QString Password; // in clear here; encoded in the file
    int Width = 1024;
    int Height = 768;
    bool FullScreen = false;
    int ColorDepth = 24;

    bool operator==(const TClientSettings &) const = default;
};

struct TSvrGroup {
    int GroupId = -1;
    QString GroupName;

    bool operator==(const TSvrGroup &) const = default;
};

struct TSvrItem {
    int Id = 0;
    TClientSettings ClntSett;
    TSvrGroup Group; // a copy of the group's id and name, not a reference to it
    QString Description;

    bool operator==(const TSvrItem &) const = default;
};

using PSvrItem = TSvrItem *;

// An ordered list that owns its records. Pointers to the records stay valid
// until the record itself is removed.
template <class T>
class TOwnedList {
public:
    T *Add(std::unique_ptr<T> record)
    {
        items_.push_back(std::move(record));
        return items_.back().get();
    }
    // Removes (and releases) the first entry that is the given record.
    void Remove(const T *record)
    {
        for (auto it = items_.begin(); it != items_.end(); ++it)
            if (it->get() == record) {
                items_.erase(it);
                return;
            }
    }
    int Count() const { return int(items_.size()); }
    T *Items(int index) const { return items_.at(size_t(index)).get(); }

    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<std::unique_ptr<T>> items_;
};

class TSvrList : public TOwnedList<TSvrItem> {};
class TSvrGroups : public TOwnedList<TSvrGroup> {};

// The id and name of the group a server belongs to when it belongs to none.
inline constexpr int UngroupedId = -1;
QString UngroupedName();

// The installed catalogue's lists and counters (Catalogue::Current()), under the
// names every caller knows. The lists do not exist until they are first loaded.
template <class List, std::unique_ptr<List> &(*Slot)()>
class TInstalledList {
public:
    List *operator->() const { return Slot().get(); }
    List &operator*() const { return *Slot(); }
    explicit operator bool() const { return bool(Slot()); }
    List *get() const { return Slot().get(); }
    void reset() const { Slot().reset(); }
    const TInstalledList &operator=(std::unique_ptr<List> list) const
    {
        Slot() = std::move(list);
        return *this;
    }
};
template <int &(*Slot)()>
class TInstalledCounter {
public:
    operator int() const { return Slot(); }
    const TInstalledCounter &operator=(int value) const
    {
        Slot() = value;
        return *this;
    }
};

std::unique_ptr<TSvrList> &InstalledSvrList();
std::unique_ptr<TSvrGroups> &InstalledSvrGroups();
int &InstalledMaxGroupID();
int &InstalledMaxServerId();

inline constexpr TInstalledList<TSvrList, InstalledSvrList> SvrList{};
inline constexpr TInstalledList<TSvrGroups, InstalledSvrGroups> SvrGroups{};
inline constexpr TInstalledCounter<InstalledMaxGroupID> MaxGroupID{};
inline constexpr TInstalledCounter<InstalledMaxServerId> MaxServerId{};

// Where the installed catalogue is kept: the server list file (UseIniFile, the
// default) or a database a team shares (UseDatabase). Made on first use.
CatalogueStore &GetCatalogueStore();
// Installs a catalogue on a PostgreSQL database ("postgresql://user@host:port/name",
// the socket folder as "?host=/path"). Releases the current catalogue.
void UseDatabase(const QString &address);
bool CatalogueInDatabase();

// A server that is no longer in the shared catalogue: another administrator deleted it.
class EServerGone : public AppError {
public:
    explicit EServerGone(int serverId)
        : AppError(QStringLiteral("这台服务器已被其他管理员删除。")), serverId_(serverId)
    {
    }
    int ServerId() const { return serverId_; }

private:
    int serverId_;
};

// The server list file: DefaultServerListFile for the executable's folder unless
// UseIniFile chose another.
IniFile &GetIniFile();
// The full path of the server list file in use, or the database's address without
// its password, for showing to the user.
QString ServerListFilePath();
// Installs a catalogue on another server list file. Releases the current file
// handle and both lists, and resets the counters, as a process exit would.
void UseIniFile(const QString &fileName);
// Releases the installed catalogue: the file handle, then the groups, then the servers.
void ReleaseCatalogue();

void LoadGroups();
// Servers whose stored password cannot be decoded still load, with an empty
// password; TakeLoadWarning then tells which they were.
void LoadServers();
TSvrGroups &GetSvrGroups();
TSvrList &GetSvrList();
// The notice for the user about servers that loaded with a problem, once; empty if none.
QString TakeLoadWarning();

// Throws EServerGone when a shared catalogue no longer has the server.
void WriteSvrItem(const TSvrItem &item);

// The group with the id, or a fresh ungrouped record (-1, "未分组") if there is none.
TSvrGroup GetGroup(int groupId);
// The id of the last group whose name compares equal to name in the user's locale
// (QString::localeAwareCompare, which may equal names that differ, e.g. in case
// under some locales); -1 if none.
int GetGroupIdByName(const QString &name);
int AddGroup(const QString &name);
int RegisterGroup(const TSvrGroup &group);
void RenameGroup(int groupId, const QString &name);
// As RenameGroup, but refused with EGroupChanged (CatalogueConflict.h) when a shared
// catalogue's group is no longer at `version` (from GroupVersion when the user began).
void RenameGroup(int groupId, const QString &name, int version);
// The version of the group or server as the catalogue last read or wrote it; 0 for
// the server list file, which keeps none.
int GroupVersion(int groupId);
int SvrItemVersion(int serverId);
bool GroupHasServers(int groupId);
void DeleteGroup(int groupId);

PSvrItem AddSvrItem(const TClientSettings &settings, int groupId, const QString &description);
// Adds servers to one group as AddSvrItem adds each (ClntSett and Description are
// taken from each record, Id and Group given anew), in one write of the file:
// afterwards either all of them are in the file and the list, or none is.
std::vector<PSvrItem> AddSvrItems(std::span<const TSvrItem> servers, int groupId);
// The same, each server into the group of its own record's Group.GroupId.
std::vector<PSvrItem> AddSvrItemsToGroups(std::span<const TSvrItem> servers);
PSvrItem GetSvrItem(int serverId);
void UpdateSvrItem(int serverId, const TClientSettings &settings, const QString &description);
// As UpdateSvrItem, but refused with EServerChanged (CatalogueConflict.h), carrying
// the stored record, when a shared catalogue's server is no longer at `version`
// (from SvrItemVersion when the user began); the record in memory stays as it was.
void UpdateSvrItem(int serverId, const TClientSettings &settings, const QString &description, int version);
void SetSvrGroup(int serverId, const QString &groupName);
void MoveSvrItem(PSvrItem server, const QString &groupName);
void DeleteSvrItem(PSvrItem server);

int IndexOfInt(int value, std::span<const int> values);
