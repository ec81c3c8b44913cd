#pragma once

#include "RdpCommon.h"
#include "PingTarget.h"
#include "PingThread.h"

#include <QIcon>
#include <QPointer>
#include <QString>
#include <QTreeWidgetItem>
#include <memory>
#include <vector>

class QTreeWidget;
class TGroupItem;
class TItem;

// The server list is one flat list of rows: each group row is followed directly
// by the rows of its servers while the group is expanded.
using TListView = QTreeWidget;

// Column 0 is the row's caption; the further columns are its sub-items.
enum ServerListColumn {
    ColServer = 0,
    ColUser = 1,
    ColStatus = 2,
    ColDescription = 3,
    ColumnCount = 4
};

// The object attached to a row: a group or a server.
class TRowObject {
public:
    virtual ~TRowObject() = default;
    virtual bool IsGroup() const = 0;
};

// One row of the server list. A server row's poller probes the row's address;
// the row shows the status the poller reports, and its look (colours, bold
// group rows, the tooltip) follows from its data through the item roles.
class TListItem : public QTreeWidgetItem, public PingTarget {
public:
    TListItem() = default;

    int ImageIndex() const { return fImageIndex; }
    void setImageIndex(int index);
    TRowObject *Data() const { return fData; }
    // Attaches an object the row does not own (a server's row object).
    void setData(TRowObject *data) { fData = data; }
    // Attaches an object that lives as long as the row (a group's row object).
    void setOwnedData(std::unique_ptr<TRowObject> data);
    // Number of texts after the caption.
    int SubItemCount() const { return fSubItems; }
    void setSubItems(const QStringList &texts);
    // Makes the row show its server: the caption and the texts after it are read
    // from the server's record whenever they are asked for, so the row keeps no
    // copy of them. Called again after the record changed, repaints the row.
    void ShowServer();

    QString address() const override;
    unsigned short port() const override;
    void showStatus(HostStatus status) override { setStatus(status); }

    HostStatus Status() const { return fStatus; }
    // Shows a status in the status column; a row with fewer than two texts
    // after its caption has no status column and shows none. A change
    // repaints the whole row, whose colours follow the status.
    void setStatus(HostStatus status);

    QVariant data(int column, int role) const override;

private:
    QString toolTip() const;
    // The text of a column of a row that shows its server; null for other rows.
    QVariant serverText(int column) const;

    std::unique_ptr<TRowObject> fOwned;
    TRowObject *fData = nullptr;
    int fImageIndex = -1;
    int fSubItems = 0;
    HostStatus fStatus = HostStatus::Unknown;
    bool fShowsServer = false;
};

// The row object of a server.
class TItem : public TRowObject {
public:
    explicit TItem(PSvrItem aSvr) : fServer(aSvr) {}
    ~TItem() override;
    bool IsGroup() const override { return false; }
    TItem(const TItem &) = delete;
    TItem &operator=(const TItem &) = delete;

    TListItem *ListItem() const { return fListItem; }
    void setListItem(TListItem *row) { fListItem = row; }
    PSvrItem Server() const { return fServer; }
    void setServer(PSvrItem server) { fServer = server; }
    TPingThread *PingThd() const { return fPiThd; }
    void setPingThd(TPingThread *poller) { fPiThd = poller; }
    TGroupItem *Grp() const { return fGrp; }
    void setGrp(TGroupItem *group) { fGrp = group; }

private:
    TListItem *fListItem = nullptr;
    PSvrItem fServer = nullptr;
    QPointer<TPingThread> fPiThd;
    TGroupItem *fGrp = nullptr;
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
    const QString &Caption() const { return fCaption; }
    // Renames the group row and the group name held by its servers' records.
    void setCaption(const QString &name);
    const std::vector<std::unique_ptr<TItem>> &Items() const { return fItems; }
    TListItem *ListItem() const { return fListItem; }
    void setListItem(TListItem *row) { fListItem = row; }
    int GrpId() const { return FGrpId; }

    void Expand();
    void Collapse();
    TItem *AddItem(PSvrItem server);
    void DeleteItem(TItem *item);

    // For filling a whole list at once: adds a server's row object without a row,
    // makes the rows of all the group's servers, and starts their pollers once
    // the rows are in the list.
    TItem *AppendItem(PSvrItem server);
    QList<QTreeWidgetItem *> MakeServerRows();
    void StartPollers();

private:
    TListView *list() const;
    TPingThread *makePoller();
    void startPoller(TItem *item);

    std::vector<std::unique_ptr<TItem>> fItems;
    QString fCaption;
    TListItem *fListItem = nullptr;
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

// The row at an index, or none past the end.
TListItem *RowAt(TListView *list, int index);
int IndexOfRow(TListView *list, TListItem *row);
TGroupItem *GroupOf(const TListItem *row);
TItem *ItemOf(const TListItem *row);

// The 16 x 16 glyph of a group row: 0 expanded (minus), 1 collapsed (plus).
QIcon GroupGlyph(int index);

// Makes the group's row, which owns the group object from then on.
TListItem *MakeGroupRow(std::unique_ptr<TGroupItem> group);
// Appends the group's row; the row owns the group object from then on.
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
