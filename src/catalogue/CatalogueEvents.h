#pragma once

#include "CatalogueStore.h"

#include <QObject>

// What other copies of the program changed in a shared catalogue, applied to the
// lists in memory and then told to the windows, row by row. A server about to be
// released is announced before it goes, so that no row keeps its pointer.
class CatalogueEvents : public QObject {
    Q_OBJECT
public:
    static CatalogueEvents &Instance();

    // Whether the catalogue can be changed now; false while a shared store is lost.
    bool Online() const { return fOnline; }
    const QString &OfflineReason() const { return fReason; }

signals:
    void GroupAdded(int groupId);
    void GroupRenamed(int groupId, const QString &name);
    void GroupDeleted(int groupId);
    void ServerAdded(PSvrItem server);
    void ServerChanged(PSvrItem server);
    void ServerMoved(PSvrItem server, int oldGroupId);
    void ServerDeleting(PSvrItem server);
    void Availability(bool online, const QString &reason);

private:
    friend void ConnectCatalogueEvents(CatalogueStore &store);
    void apply(CatalogueStore &store, CatalogueKind kind, CatalogueVerb verb, const QList<int> &ids);
    void applyGroups(const std::vector<TSvrGroup> &fetched, CatalogueVerb verb, const QList<int> &ids);
    void applyServers(const std::vector<TSvrItem> &fetched, CatalogueVerb verb, const QList<int> &ids);
    void deleteServer(PSvrItem server);
    // After the store was lost: brings the lists in step with the store, row by row.
    void catchUp(CatalogueStore &store);

    bool fOnline = true;
    QString fReason;
};

// Called by the catalogue for each store it makes.
void ConnectCatalogueEvents(CatalogueStore &store);
