#pragma once

#include "PingTarget.h"
#include "PingThread.h"
#include "RdpCommon.h"

#include <QIcon>
#include <QPointer>
#include <QString>
#include <memory>
#include <vector>

class ServerListModel;
class TGroupItem;
class TItem;

// The server list is one flat list of rows: each group row is followed directly
// by the rows of its servers while the group is expanded.
using TListView = ServerListModel;

// Column 0 is the row's caption; the further columns are its sub-items.
enum ServerListColumn {
    ColServer = 0,
    ColUser = 1,
    ColStatus = 2,
    ColDescription = 3,
    ColumnCount = 4,
    // The narrow column of the server's latency over the last half hour, when
    // the list shows it: past the four that every list has.
    ColLatency = ColumnCount
};

// The object attached to a row: a group or a server.
class TRowObject {
public:
    virtual ~TRowObject() = default;
    virtual bool IsGroup() const = 0;
    // The row that shows the object in its list; -1 while none does.
    int Row() const { return row_; }

private:
    friend class ServerListModel;
    int row_ = -1;
};

// The row object of a server. Its poller probes the server's address and
// reports what it found by signal; the list keeps the last status here.
class TItem : public TRowObject, public PingTarget {
public:
    explicit TItem(PSvrItem aSvr) : fServer(aSvr) {}
    ~TItem() override;
    bool IsGroup() const override { return false; }
    TItem(const TItem &) = delete;
    TItem &operator=(const TItem &) = delete;

    PSvrItem Server() const { return fServer; }
    void setServer(PSvrItem server) { fServer = server; }
    TPingThread *PingThd() const { return fPiThd; }
    void setPingThd(TPingThread *poller) { fPiThd = poller; }
    TGroupItem *Grp() const { return fGrp; }
    void setGrp(TGroupItem *group) { fGrp = group; }
    // What the poller last reported while the row was shown; Unknown in a new row.
    HostStatus Status() const { return status_; }

    QString address() const override;
    unsigned short port() const override;

private:
    friend class ServerListModel;
    PSvrItem fServer = nullptr;
    QPointer<TPingThread> fPiThd;
    TGroupItem *fGrp = nullptr;
    HostStatus status_ = HostStatus::Unknown;
};

// The row object of a group; owns the row objects of its servers.
class TGroupItem : public TRowObject {
public:
    explicit TGroupItem(const TSvrGroup &aGroup);
    ~TGroupItem() override;
    bool IsGroup() const override { return true; }
    TGroupItem(const TGroupItem &) = delete;
    TGroupItem &operator=(const TGroupItem &) = delete;

    bool Expanded() const { return fExpanded; }
    // The glyph the group row shows: 0 (minus) expanded, 1 (plus) collapsed.
    int ImageIndex() const { return fExpanded ? 0 : 1; }
    const QString &Caption() const { return fCaption; }
    // Renames the group row and the group name held by its servers' records.
    void setCaption(const QString &name);
    const std::vector<std::unique_ptr<TItem>> &Items() const { return fItems; }
    int GrpId() const { return FGrpId; }
    // The list whose row shows the group; none before the row is made.
    ServerListModel *List() const { return list_; }

    void Expand();
    void Collapse();
    TItem *AddItem(PSvrItem server);
    void DeleteItem(TItem *item);

    // For filling a whole list at once: adds a server's row object without a
    // row; the list makes the rows and then starts the pollers.
    TItem *AppendItem(PSvrItem server);
    void StartPollers();

private:
    friend class ServerListModel;
    void startPoller(TItem *item);

    std::vector<std::unique_ptr<TItem>> fItems;
    QString fCaption;
    ServerListModel *list_ = nullptr;
    bool fExpanded = true;
    int FGrpId = -1;
};

// What a drag of a server row carries.
class TDragItem {
public:
    TDragItem(TItem *aData, int aIndex) : fData(aData), fIndex(aIndex) {}
    TItem *Data() const { return fData; }
    void setData(TItem *data) { fData = data; }
    int Index() const { return fIndex; }

private:
    TItem *fData;
    int fIndex;
};

TGroupItem *GroupOf(const TRowObject *row);
TItem *ItemOf(const TRowObject *row);

// The 16 x 16 glyph of a group row: 0 expanded (minus), 1 collapsed (plus).
QIcon GroupGlyph(int index);

// Appends the group's row; the list owns the group object from then on.
void AddGroupRow(TListView *list, std::unique_ptr<TGroupItem> group);
TGroupItem *FindGroupRow(TListView *list, int id);
TGroupItem *RenameGroupRow(TListView *list, int id, const QString &name);
int DeleteGroupRow(TListView *list, int id);
void AddServerRow(TListView *list, PSvrItem server);
void FillServerRows(TListView *list, const TSvrList &records);
// Empties the list: stops every poller and frees every row object.
void ClearServerRows(TListView *list);
// The row object of a server record, in any group, shown or collapsed; none if there is none.
TItem *FindServerItem(TListView *list, PSvrItem server);
