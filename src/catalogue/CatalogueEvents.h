#pragma once

#include "CatalogueStore.h"

#include <QObject>
#include <QTimer>

class Catalogue;

// What other copies of the program changed in a shared catalogue, applied to the
// lists in memory and then told to the windows, row by row. A server about to be
// released is announced before it goes, so that no row keeps its pointer.
class CatalogueEvents : public QObject {
    Q_OBJECT
public:
    // The events of one catalogue; without one, a relay.
    explicit CatalogueEvents(Catalogue *catalogue);
    // The program's relay: it passes on the events of whichever catalogue is installed.
    static CatalogueEvents &Instance();
    // Passes this catalogue's events on to the relay from now on, as the installed one's.
    void RelayTo(CatalogueEvents &relay);
    // Takes up the store's announcements.
    void Watch(CatalogueStore &store);

    // Whether the catalogue can be changed now; false while a shared store is lost.
    bool Online() const { return online_; }
    const QString &OfflineReason() const { return reason_; }

signals:
    void GroupAdded(int groupId);
    void GroupRenamed(int groupId, const QString &name);
    void GroupDeleted(int groupId);
    void ServerAdded(PSvrItem server);
    void ServerChanged(PSvrItem server);
    void ServerMoved(PSvrItem server, int oldGroupId);
    void ServerDeleting(PSvrItem server);
    void Availability(bool online, const QString &reason);
    // A change is waiting for a shared store's answer, or no longer.
    void Waiting(bool underWay);
    // This program stored passwords for these servers (added or changed them).
    void PasswordsStored(const QList<int> &serverIds);

private:
    void apply(CatalogueStore &store, CatalogueKind kind, CatalogueVerb verb, const QList<int> &ids);
    void applyGroups(const std::vector<TSvrGroup> &fetched, CatalogueVerb verb, const QList<int> &ids);
    void applyServers(const std::vector<TSvrItem> &fetched, CatalogueVerb verb, const QList<int> &ids);
    void deleteServer(PSvrItem server);
    // After the store was lost, or when it may hold changes not seen: brings the lists
    // in step with the store, row by row.
    void catchUp(CatalogueStore &store);

    Catalogue *catalogue_;
    QTimer retry_; // the next catch-up
    bool online_ = true;
    QString reason_;
};
