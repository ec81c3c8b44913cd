#pragma once

#include "GroupListItems.h"

#include <QTreeWidget>
#include <memory>

class TGlyphDelegate;

// What the server list asks of the window it is in.
class TServerListEvents {
public:
    virtual ~TServerListEvents() = default;
    virtual std::unique_ptr<TDragItem> lvSvrStartDrag() = 0;
    virtual bool lvSvrDragOver(TDragItem *source, const QPoint &at) = 0;
    virtual void lvSvrDragDrop(TDragItem *source, const QPoint &at) = 0;
};

// The report-style list of groups and servers. Rows draw themselves from their
// item roles; drag and drop is decided by the window through TServerListEvents.
class TServerListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit TServerListView(TServerListEvents *events, QWidget *parent = nullptr);

    TListItem *Selected() const;
    TListItem *RowAtPoint(const QPoint &viewportPos) const;
    // Where a group row's +/- glyph is drawn, in viewport coordinates; empty
    // for a server row.
    QRect GlyphRect(TListItem *row) const;

    // A drag in two halves, so that it can also be driven without a mouse:
    // beginDrag asks the window for the drag object and returns the data to carry
    // (none when the window makes no drag object); endDrag releases the object.
    QMimeData *beginDrag();
    void endDrag();
    // The drag object that the data belongs to, if it is this list's own drag.
    TDragItem *dragSource(const QMimeData *mimeData) const;

signals:
    // A press on a group row's +/- glyph; each press of a double click counts.
    void glyphClicked(TListItem *row);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    TListItem *glyphAt(const QMouseEvent *event) const;

    TServerListEvents *fEvents;
    TGlyphDelegate *fDelegate;
    std::unique_ptr<TDragItem> fDrag;
    QByteArray fDragToken;
};
