#pragma once

#include "GroupListItems.h"

#include <QColor>
#include <QFont>
#include <QTreeWidget>
#include <memory>

// How one row or cell is drawn; the manager's drawing handlers fill it in.
struct TRowPaint {
    QFont font;
    QColor background; // invalid: the list's own
    QColor text;       // invalid: the list's own
};

// What the server list asks of the window it is in.
class TServerListEvents {
public:
    virtual ~TServerListEvents() = default;
    virtual std::unique_ptr<TDragItem> lvSvrStartDrag() = 0;
    virtual bool lvSvrDragOver(TDragItem *source, const QPoint &at) = 0;
    virtual void lvSvrDragDrop(TDragItem *source, const QPoint &at) = 0;
    virtual void lvSvrAdvancedCustomDrawItem(TListItem *row, TRowPaint &paint) = 0;
    virtual void lvSvrAdvancedCustomDrawSubItem(TListItem *row, int subItem, TRowPaint &paint) = 0;
};

// The report-style list of groups and servers. Drawing and drag and drop are
// decided by the window through TServerListEvents.
class TServerListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit TServerListView(TServerListEvents *events, QWidget *parent = nullptr);

    TListItem *Selected() const;
    TListItem *RowAtPoint(const QPoint &viewportPos) const;

    // A drag in two halves, so that it can also be driven without a mouse:
    // beginDrag asks the window for the drag object and returns the data to carry
    // (none when the window makes no drag object); endDrag releases the object.
    QMimeData *beginDrag();
    void endDrag();
    // The drag object that the data belongs to, if it is this list's own drag.
    TDragItem *dragSource(const QMimeData *data) const;

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    friend class TServerListDelegate;
    TServerListEvents *fEvents;
    std::unique_ptr<TDragItem> fDrag;
    QByteArray fDragToken;
};
