#pragma once

#include "GroupListItems.h"

#include <QTreeView>
#include <memory>

class QAbstractProxyModel;
class ServerListModel;
class TGlyphDelegate;

// What the server list asks of the window it is in.
class TServerListEvents {
public:
    virtual ~TServerListEvents() = default;
    virtual std::unique_ptr<TDragItem> lvSvrStartDrag() = 0;
    virtual bool lvSvrDragOver(TDragItem *source, const QPoint &at) = 0;
    virtual void lvSvrDragDrop(TDragItem *source, const QPoint &at) = 0;
};

// The report-style list of groups and servers. It shows the rows of a server
// list model, through a proxy that leaves some out when there is one; rows draw
// themselves from their item roles; drag and drop is decided by the window
// through TServerListEvents.
class TServerListView : public QTreeView {
    Q_OBJECT
public:
    explicit TServerListView(TServerListEvents *events, QWidget *parent = nullptr);

    // Shows the list's rows, through `shown` when it is given (a proxy over `list`).
    void SetModels(ServerListModel *list, QAbstractProxyModel *shown = nullptr);
    ServerListModel *List() const { return list_; }

    TRowObject *Selected() const;
    TRowObject *RowAtPoint(const QPoint &viewportPos) const;
    // The object of a row as this view shows it, and the other way round.
    TRowObject *ObjectAt(const QModelIndex &shownIndex) const;
    QModelIndex ShownIndex(const TRowObject *object, int column = ColServer) const;
    // Where the object's row stands, across all columns; empty while it is not shown.
    QRect RowRect(const TRowObject *object) const;
    // Makes the object's row the current and only selected one, and shows it.
    void SelectRow(const TRowObject *object);
    // Where a group row's +/- glyph is drawn, in viewport coordinates; empty
    // for a server row.
    QRect GlyphRect(const TRowObject *row) const;

    // A drag in two halves, so that it can also be driven without a mouse:
    // beginDrag asks the window for the drag object and returns the data to carry
    // (none when the window makes no drag object); endDrag releases the object.
    QMimeData *beginDrag();
    void endDrag();
    // The drag object that the data belongs to, if it is this list's own drag.
    TDragItem *dragSource(const QMimeData *mimeData) const;

signals:
    // A press on a group row's +/- glyph; each press of a double click counts.
    void glyphClicked(TRowObject *row);
    // A row became selected (none when the selection was cleared).
    void rowSelected(TRowObject *row);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    TRowObject *glyphAt(const QMouseEvent *event) const;
    void placeLatencyColumn();

    TServerListEvents *events_;
    TGlyphDelegate *delegate_;
    ServerListModel *list_ = nullptr;
    QAbstractProxyModel *shown_ = nullptr;
    std::unique_ptr<TDragItem> drag_;
    QByteArray dragToken_;
};
