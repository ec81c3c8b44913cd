#pragma once

#include "GroupListItems.h"
#include "PingReports.h"
#include "ReachabilityHistory.h"

#include <QAbstractItemModel>
#include <QPointer>
#include <memory>
#include <vector>

// The manager's server list as a model: one flat list of rows, each group row
// followed by the rows of its servers while the group is expanded. The rows
// hold no texts of their own; they read the catalogue's records through the
// row objects attached to them (TGroupItem, TItem), and the status that each
// server's poller reports by signal.
//
// Columns: "服务器" (group name or server address), "用户名", "状态" ("Online" or
// "Offline", empty before the first probe) and "备注". Group rows show the +/-
// glyph and are bold; an offline server row is medium grey with a red status,
// an online one has a green status.
//
// With a reachability history, a server row's tooltip also tells the server's
// recent past, each result its poller reports goes into the history, and the
// list may show a fifth column, "延迟走势", of the latency of the last half hour.
class ServerListModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Role {
        StatusRole = Qt::UserRole + 1, // a server row's HostStatus
        GlyphRole,                     // a group row's glyph: 0 expanded, 1 collapsed; -1 for a server row
        LatencyRole,                   // ColLatency: a QList<double> of ms a minute, oldest first, NaN where none
    };
    static constexpr int LatencyMinutes = 30;

    explicit ServerListModel(QObject *parent = nullptr);
    ~ServerListModel() override;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    int RowCount() const { return int(rows_.size()); }
    // The object of a row; none past the end.
    TRowObject *RowObject(int row) const;
    TRowObject *RowObject(const QModelIndex &index) const;
    // The index of the object's row in a column; invalid while no row shows it.
    QModelIndex IndexOf(const TRowObject *object, int column = ColServer) const;

    // The rows themselves; the free operations of GroupListItems.h use these.
    void AppendGroup(std::unique_ptr<TGroupItem> group);
    TGroupItem *FindGroup(int id) const;
    // Deletes the group's row and frees the group; returns the row it had.
    int DeleteGroup(TGroupItem *group);
    void Fill(const TSvrList &records);
    void Clear();
    TItem *FindServerItem(PSvrItem server) const;

    // Shows the server's record again after it changed.
    void ServerChanged(TItem *item);
    // Shows a status in the server's row; a change repaints the whole row,
    // whose colours follow the status.
    void SetStatus(TItem *item, HostStatus status);
    // The channel through which the pollers of this list's rows report.
    PingReports *Reports() { return &reports_; }

    // The history that the rows' results go into and their tooltips tell of; none by default.
    void SetHistory(ReachabilityHistory *history);
    ReachabilityHistory *History() const { return history_; }
    // Whether the list has its fifth column, ColLatency.
    void SetLatencyColumn(bool shown);
    bool LatencyColumn() const { return latencyColumn_; }
    // A result of the server's poller, as it reaches the list.
    void TakeResult(TItem *item, HostStatus status, qint64 latencyUs);

signals:
    // The list was filled afresh or emptied; also announced as a model reset.
    void filled();

private:
    friend class TGroupItem;
    // For the row objects: a new poller, paused, whose reports reach this list.
    TPingThread *makePoller();
    void insertItemRows(TGroupItem *group, int at);
    void insertItemRow(TItem *item, int at);
    void removeItemRows(int first, int count);
    void removeRowsOf(int first, int count);
    void rowChanged(const TRowObject *object, const QList<int> &roles = {});
    void numberFrom(int first);
    void takeStatus(PingTarget *target, HostStatus status);
    void takeResult(PingTarget *target, HostStatus status, qint64 latencyUs);
    // The server row whose poller speaks for target; none for a stale report.
    static TItem *reportingItem(PingTarget *target);
    int columns() const { return latencyColumn_ ? ColumnCount + 1 : ColumnCount; }
    QString toolTipOf(const TItem *item) const;
    QVariant latencyOf(const TItem *item) const;
    QVariant serverData(const TItem *item, int column, int role) const;
    QVariant groupData(const TGroupItem *group, int column, int role) const;

    PingReports reports_;
    QPointer<ReachabilityHistory> history_;
    bool latencyColumn_ = false;
    std::vector<TRowObject *> rows_;
    std::vector<std::unique_ptr<TGroupItem>> groups_; // every group with a row, in no order
};
