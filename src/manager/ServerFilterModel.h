#pragma once

#include "ServerFilter.h"

#include <QSet>
#include <QSortFilterProxyModel>
#include <QTimer>

class ServerListModel;

// The server list as the find box leaves it: with a text to look for, only the
// servers that match it (see TFindQuery: address, user, description or group,
// pinyin initials, full-width and letter case folded) and the rows of groups
// that hold one. Rows that come, go or change while a text is looked for are
// filtered too, once the change is over; a status that a poller reports
// changes nothing that is looked for.
class ServerFilterModel : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit ServerFilterModel(ServerListModel *list, QObject *parent = nullptr);

    // Looks for the text typed; a text of no words shows every row.
    void SetFindText(const QString &typed);
    const QString &FindText() const { return typed_; }
    // Whether a text is being looked for.
    bool Active() const { return active_; }
    // How many servers of the catalogue match, shown or in a collapsed group.
    int MatchCount() const { return int(matches_.size()); }
    // Folds the servers' texts ahead of the first keystroke.
    void Prepare();

signals:
    // The rows were filtered afresh.
    void refiltered();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    void refilter();
    void scheduleRefilter();

    ServerListModel *list_;
    TServerFilter filter_;
    QString typed_;
    QSet<const TSvrItem *> matches_;
    bool active_ = false;
    QTimer refilter_; // the list changed under an active filter
};
