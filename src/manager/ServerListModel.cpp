#include "ServerListModel.h"

#include "HistoryToolTip.h"
#include "ReachabilityHistory.h"
#include "RowLook.h"

#include <QFont>
#include <QHash>

namespace {

// Resolved against the list's own font when drawn: the list's font, bold.
const QFont &boldFont()
{
    static const QFont font = [] {
        QFont bold;
        bold.setBold(true);
        return bold;
    }();
    return font;
}

// Address and port, then the user, domain and description where there are
// any: what tells two servers on one host apart.
QString serverToolTip(const TItem *item)
{
    const TClientSettings &settings = item->Server()->ClntSett;
    QStringList lines{QStringLiteral("%1:%2").arg(settings.Server).arg(settings.Port)};
    const auto add = [&lines](const QString &label, const QString &value) {
        if (!value.trimmed().isEmpty())
            lines << label + value;
    };
    add(QStringLiteral("用户名: "), settings.User);
    add(QStringLiteral("域: "), settings.Domain);
    add(QStringLiteral("备注: "), item->Server()->Description);
    if (item->Status() == HostStatus::NotFound)
        lines << QStringLiteral("找不到主机");
    return lines.join(QLatin1Char('\n'));
}

} // namespace

ServerListModel::ServerListModel(QObject *parent) : QAbstractItemModel(parent)
{
    // One connection for all the pollers: one per poller would cost more than the row itself.
    connect(&reports_, &PingReports::statusReported, this, &ServerListModel::takeStatus);
    connect(&reports_, &PingReports::resultReported, this, &ServerListModel::takeResult);
}

ServerListModel::~ServerListModel()
{
    rows_.clear();
    groups_.clear(); // the row objects stop their pollers as they go
}

// ---- the model's interface

QModelIndex ServerListModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || row < 0 || row >= RowCount() || column < 0 || column >= columns())
        return QModelIndex();
    return createIndex(row, column);
}

QModelIndex ServerListModel::parent(const QModelIndex &) const
{
    return QModelIndex();
}

int ServerListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : RowCount();
}

int ServerListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : columns();
}

QVariant ServerListModel::data(const QModelIndex &index, int role) const
{
    const TRowObject *object = RowObject(index);
    if (const TItem *item = ItemOf(object))
        return serverData(item, index.column(), role);
    if (const TGroupItem *group = GroupOf(object))
        return groupData(group, index.column(), role);
    return QVariant();
}

QVariant ServerListModel::serverData(const TItem *item, int column, int role) const
{
    if (!item->Server())
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case ColServer:
            return item->Server()->ClntSett.Server;
        case ColUser:
            return item->Server()->ClntSett.User;
        case ColStatus:
            return TPingThread::StatusText(item->Status());
        case ColDescription:
            return item->Server()->Description;
        default:
            return QVariant();
        }
    case Qt::BackgroundRole:
        return RowBackground(item->Status());
    case Qt::ForegroundRole:
        return column == ColStatus ? StatusForeground(item->Status()) : QVariant();
    case Qt::ToolTipRole:
        return toolTipOf(item);
    case LatencyRole:
        return column == ColLatency && latencyColumn_ ? latencyOf(item) : QVariant();
    case StatusRole:
        return QVariant::fromValue(item->Status());
    case GlyphRole:
        return -1;
    default:
        return QVariant();
    }
}

QVariant ServerListModel::groupData(const TGroupItem *group, int column, int role) const
{
    switch (role) {
    case Qt::DisplayRole:
        return column == ColServer ? QVariant(group->Caption()) : QVariant();
    case Qt::DecorationRole:
        return column == ColServer ? QVariant(GroupGlyph(group->ImageIndex())) : QVariant();
    case Qt::FontRole:
        return boldFont();
    case GlyphRole:
        return group->ImageIndex();
    default:
        return QVariant();
    }
}

QVariant ServerListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractItemModel::headerData(section, orientation, role);
    switch (section) {
    case ColServer:
        return QStringLiteral("服务器");
    case ColUser:
        return QStringLiteral("用户名");
    case ColStatus:
        return QStringLiteral("状态");
    case ColDescription:
        return QStringLiteral("备注");
    case ColLatency:
        return latencyColumn_ ? QVariant(QStringLiteral("延迟走势")) : QVariant();
    default:
        return QVariant();
    }
}

Qt::ItemFlags ServerListModel::flags(const QModelIndex &index) const
{
    if (!RowObject(index))
        return Qt::NoItemFlags;
    // Every row may start a drag; the window refuses one that starts on a group.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

// ---- rows

TRowObject *ServerListModel::RowObject(int row) const
{
    return row >= 0 && row < RowCount() ? rows_[size_t(row)] : nullptr;
}

TRowObject *ServerListModel::RowObject(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return RowObject(index.row());
}

QModelIndex ServerListModel::IndexOf(const TRowObject *object, int column) const
{
    if (!object || object->row_ < 0 || RowObject(object->row_) != object)
        return QModelIndex();
    return index(object->row_, column);
}

void ServerListModel::numberFrom(int first)
{
    for (size_t i = size_t(std::max(first, 0)); i < rows_.size(); ++i)
        rows_[i]->row_ = int(i);
}

void ServerListModel::rowChanged(const TRowObject *object, const QList<int> &roles)
{
    if (const QModelIndex left = IndexOf(object); left.isValid())
        emit dataChanged(left, index(left.row(), columns() - 1), roles);
}

void ServerListModel::AppendGroup(std::unique_ptr<TGroupItem> group)
{
    const int at = RowCount();
    beginInsertRows(QModelIndex(), at, at);
    group->list_ = this;
    rows_.push_back(group.get());
    group->row_ = at;
    groups_.push_back(std::move(group));
    endInsertRows();
}

TGroupItem *ServerListModel::FindGroup(int id) const
{
    TGroupItem *first = nullptr;
    for (const auto &group : groups_)
        if (group->GrpId() == id && (!first || group->Row() < first->Row()))
            first = group.get();
    return first;
}

int ServerListModel::DeleteGroup(TGroupItem *group)
{
    const int row = group->Row();
    if (row < 0 || RowObject(row) != group)
        return -1;
    // Rows of its servers still shown go with it: no row outlives its object.
    int count = 1;
    while (ItemOf(RowObject(row + count)))
        ++count;
    removeRowsOf(row, count);
    const auto it = std::find_if(groups_.begin(), groups_.end(), [group](const auto &g) { return g.get() == group; });
    if (it != groups_.end())
        groups_.erase(it); // frees the group and its servers' row objects, stopping their pollers
    return row;
}

void ServerListModel::Fill(const TSvrList &records)
{
    beginResetModel();
    for (TRowObject *object : rows_)
        object->row_ = -1;
    rows_.clear();
    groups_.clear();
    // The order that adding the servers one by one would give: groups in the
    // order of their first server, each followed by its servers.
    QHash<int, TGroupItem *> byId;
    for (const auto &server : records) {
        TGroupItem *group = byId.value(server->Group.GroupId);
        if (!group) {
            groups_.push_back(std::make_unique<TGroupItem>(server->Group));
            group = groups_.back().get();
            group->list_ = this;
            byId.insert(server->Group.GroupId, group);
        }
        group->AppendItem(server.get());
    }
    rows_.reserve(size_t(records.Count()) + groups_.size());
    for (const auto &group : groups_) {
        rows_.push_back(group.get());
        for (const auto &item : group->Items())
            rows_.push_back(item.get());
    }
    numberFrom(0);
    endResetModel();
    for (const auto &group : groups_)
        group->StartPollers();
    emit filled();
}

void ServerListModel::Clear()
{
    beginResetModel();
    rows_.clear();
    // Each group's server row objects stop their pollers as they go, paused ones included.
    groups_.clear();
    endResetModel();
    emit filled();
}

TItem *ServerListModel::FindServerItem(PSvrItem server) const
{
    for (const auto &group : groups_)
        for (const auto &item : group->Items())
            if (item->Server() == server)
                return item.get();
    return nullptr;
}

void ServerListModel::insertItemRows(TGroupItem *group, int at)
{
    const auto &items = group->Items();
    if (items.empty())
        return;
    at = std::clamp(at, 0, RowCount());
    beginInsertRows(QModelIndex(), at, at + int(items.size()) - 1);
    std::vector<TRowObject *> made;
    made.reserve(items.size());
    for (const auto &item : items) {
        item->status_ = HostStatus::Unknown; // a new row shows no status until the next probe
        made.push_back(item.get());
    }
    rows_.insert(rows_.begin() + at, made.begin(), made.end());
    numberFrom(at);
    endInsertRows();
}

void ServerListModel::insertItemRow(TItem *item, int at)
{
    at = std::clamp(at, 0, RowCount());
    beginInsertRows(QModelIndex(), at, at);
    item->status_ = HostStatus::Unknown;
    rows_.insert(rows_.begin() + at, item);
    numberFrom(at);
    endInsertRows();
}

void ServerListModel::removeItemRows(int first, int count)
{
    removeRowsOf(first, count);
}

void ServerListModel::removeRowsOf(int first, int count)
{
    if (count <= 0 || first < 0 || first + count > RowCount())
        return;
    beginRemoveRows(QModelIndex(), first, first + count - 1);
    for (int i = first; i < first + count; ++i)
        rows_[size_t(i)]->row_ = -1;
    rows_.erase(rows_.begin() + first, rows_.begin() + first + count);
    numberFrom(first);
    endRemoveRows();
}

// ---- servers and their statuses

TPingThread *ServerListModel::makePoller()
{
    auto *poller = new TPingThread(true, this);
    poller->setReports(&reports_);
    return poller;
}

TItem *ServerListModel::reportingItem(PingTarget *target)
{
    // A report names the row object its poller is bound to; only the poller the
    // object holds speaks for it.
    auto *item = dynamic_cast<TItem *>(target);
    return item && item->PingThd() && item->PingThd()->ListItem() == target ? item : nullptr;
}

void ServerListModel::takeStatus(PingTarget *target, HostStatus status)
{
    if (TItem *item = reportingItem(target))
        SetStatus(item, status);
}

void ServerListModel::takeResult(PingTarget *target, HostStatus status, qint64 latencyUs)
{
    if (TItem *item = reportingItem(target))
        TakeResult(item, status, latencyUs);
}

void ServerListModel::TakeResult(TItem *item, HostStatus status, qint64 latencyUs)
{
    if (!history_ || !item || !item->Server())
        return;
    history_->record(item->Server()->Id, status == HostStatus::Online, latencyUs);
    // The tooltip is made when it is asked for; the sparkline is drawn from the model.
    if (latencyColumn_) {
        if (const QModelIndex cell = IndexOf(item, ColLatency); cell.isValid())
            emit dataChanged(cell, cell, {LatencyRole});
    }
}

QString ServerListModel::toolTipOf(const TItem *item) const
{
    QString text = serverToolTip(item);
    if (history_ && history_->contains(item->Server()->Id)) {
        const QDateTime now = QDateTime::fromSecsSinceEpoch(history_->nowSecond());
        if (const QString past = historyToolTip(history_->summary(item->Server()->Id), now); !past.isEmpty())
            text += QLatin1Char('\n') + past;
    }
    return text;
}

QVariant ServerListModel::latencyOf(const TItem *item) const
{
    if (!history_ || !history_->contains(item->Server()->Id))
        return QVariant();
    const ReachabilityHistory::Summary summary = history_->summary(item->Server()->Id, LatencyMinutes);
    return QVariant::fromValue(QList<double>(summary.latencyMs.cbegin(), summary.latencyMs.cend()));
}

void ServerListModel::SetHistory(ReachabilityHistory *history)
{
    if (history_ == history)
        return;
    history_ = history;
    if (RowCount() > 0)
        emit dataChanged(index(0, 0), index(RowCount() - 1, columns() - 1), {Qt::ToolTipRole, LatencyRole});
}

void ServerListModel::SetLatencyColumn(bool shown)
{
    if (latencyColumn_ == shown)
        return;
    if (shown) {
        beginInsertColumns(QModelIndex(), ColLatency, ColLatency);
        latencyColumn_ = true;
        endInsertColumns();
    } else {
        beginRemoveColumns(QModelIndex(), ColLatency, ColLatency);
        latencyColumn_ = false;
        endRemoveColumns();
    }
}

void ServerListModel::SetStatus(TItem *item, HostStatus status)
{
    if (!item || item->status_ == status)
        return;
    item->status_ = status;
    // The colours of every cell follow the status, not the status cell's alone.
    static const QList<int> roles{Qt::DisplayRole, Qt::BackgroundRole, Qt::ForegroundRole, Qt::ToolTipRole, StatusRole};
    rowChanged(item, roles);
}

void ServerListModel::ServerChanged(TItem *item)
{
    rowChanged(item);
}
