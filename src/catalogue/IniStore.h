#pragma once

#include "CatalogueStore.h"
#include "IniFile.h"

// The catalogue in the server list file "SvrList.ini": sections MISC, GroupItem<id>
// and ServerItem<id>, passwords encoded. Every change is one atomic rewrite of the
// file made on a fresh reading of it, so that two copies of the program sharing a
// file never give out the same id.
class IniStore : public CatalogueStore {
    Q_OBJECT
public:
    explicit IniStore(const QString &fileName);

    IniFile &file() { return file_; }

    QString location() const override { return file_.fileName(); }
    std::vector<TSvrGroup> readGroups(int &maxGroupId) override;
    std::vector<TSvrItem> readServers(int &maxServerId) override;
    QStringList takeLoadProblems() override;

    int addGroup(const QString &name, int heldMax) override;
    int registerGroup(const TSvrGroup &group, int heldMax) override;
    void renameGroup(int groupId, const QString &name) override;
    void deleteGroup(int groupId) override;

    std::vector<int> addServers(std::span<const TSvrItem> servers, int heldMax) override;
    bool writeServer(const TSvrItem &server) override;
    void setServerGroup(int serverId, int groupId) override;
    void deleteServer(int serverId) override;

    // Writes a whole catalogue, ids as given, into a file that holds none yet, in one
    // write. Throws AppError when the file already holds groups or servers.
    void writeWhole(std::span<const TSvrGroup> groups, std::span<const TSvrItem> servers, int maxGroupId,
                    int maxServerId);

private:
    IniFile file_;
    QStringList undecodablePasswords_;
};
