#include "ServerFilterModel.h"

#include "AppError.h"
#include "ServerListModel.h"

ServerFilterModel::ServerFilterModel(ServerListModel *list, QObject *parent)
    : QSortFilterProxyModel(parent), list_(list)
{
    // Rows are filtered when the text changes and when rows come or go; a
    // status report passes through without a look at the filter.
    setDynamicSortFilter(false);
    setSourceModel(list);
    refilter_.setSingleShot(true);
    refilter_.setInterval(0);
    connect(&refilter_, &QTimer::timeout, this, [this] { Guard([&] { refilter(); }); });
    connect(list, &QAbstractItemModel::rowsInserted, this, &ServerFilterModel::scheduleRefilter);
    connect(list, &QAbstractItemModel::rowsRemoved, this, &ServerFilterModel::scheduleRefilter);
    connect(list, &QAbstractItemModel::modelReset, this, &ServerFilterModel::scheduleRefilter);
    connect(list, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex &, const QModelIndex &, const QList<int> &roles) {
        // A server's or group's texts changed, not a status a poller reported.
        if (!roles.contains(ServerListModel::StatusRole))
            scheduleRefilter();
    });
}

void ServerFilterModel::Prepare()
{
    if (SvrList)
        filter_.Prepare(*SvrList);
}

void ServerFilterModel::SetFindText(const QString &typed)
{
    typed_ = typed;
    refilter();
}

void ServerFilterModel::scheduleRefilter()
{
    if (active_)
        refilter_.start();
}

void ServerFilterModel::refilter()
{
    refilter_.stop();
    const TFindQuery query(typed_);
    active_ = !query.IsEmpty();
    matches_.clear();
    if (active_)
        for (PSvrItem server : filter_.Match(GetSvrList(), query))
            matches_.insert(server);
    invalidateRowsFilter();
    emit refiltered();
}

bool ServerFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    if (!active_)
        return true;
    const TRowObject *object = list_->RowObject(sourceRow);
    if (const TItem *item = ItemOf(object))
        return matches_.contains(item->Server());
    if (const TGroupItem *group = GroupOf(object)) {
        const auto &items = group->Items();
        return std::any_of(items.begin(), items.end(), [this](const auto &item) { return matches_.contains(item->Server()); });
    }
    return false;
}
