#include "ServerListView.h"

#include <QDrag>
#include <QDragMoveEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QStyledItemDelegate>

namespace {

const QString kDragFormat = QStringLiteral("application/x-brennic-server-row");

} // namespace

// Asks the window how each cell is to be drawn.
class TServerListDelegate : public QStyledItemDelegate {
public:
    explicit TServerListDelegate(TServerListView *view) : QStyledItemDelegate(view), fView(view) {}

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        auto *row = static_cast<TListItem *>(fView->itemFromIndex(index));
        if (!row)
            return;
        TRowPaint paint{option->font, {}, {}};
        fView->fEvents->lvSvrAdvancedCustomDrawItem(row, paint);
        if (index.column() > 0)
            fView->fEvents->lvSvrAdvancedCustomDrawSubItem(row, index.column() - 1, paint);
        option->font = paint.font;
        if (paint.background.isValid())
            option->backgroundBrush = paint.background;
        if (paint.text.isValid())
            option->palette.setColor(QPalette::Text, paint.text);
    }

private:
    TServerListView *fView;
};

TServerListView::TServerListView(TServerListEvents *events, QWidget *parent) : QTreeWidget(parent), fEvents(events)
{
    setColumnCount(ColumnCount);
    setHeaderLabels({QStringLiteral("服务器"), QStringLiteral("用户名"), QStringLiteral("状态"), QStringLiteral("备注")});
    setColumnWidth(ColServer, 120);
    setColumnWidth(ColUser, 100);
    setColumnWidth(ColStatus, 80);
    header()->setStretchLastSection(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(16, 16));
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setItemDelegate(new TServerListDelegate(this));
}

TListItem *TServerListView::Selected() const
{
    const QList<QTreeWidgetItem *> rows = selectedItems();
    return rows.isEmpty() ? nullptr : static_cast<TListItem *>(rows.first());
}

TListItem *TServerListView::RowAtPoint(const QPoint &viewportPos) const
{
    return static_cast<TListItem *>(itemAt(viewportPos));
}

QMimeData *TServerListView::beginDrag()
{
    fDrag = fEvents->lvSvrStartDrag();
    if (!fDrag)
        return nullptr;
    fDragToken = QByteArray::number(quintptr(fDrag.get()), 16);
    auto *data = new QMimeData;
    data->setData(kDragFormat, fDragToken);
    return data;
}

void TServerListView::endDrag()
{
    fDrag.reset();
    fDragToken.clear();
}

TDragItem *TServerListView::dragSource(const QMimeData *data) const
{
    if (!fDrag || !data || data->data(kDragFormat) != fDragToken)
        return nullptr;
    return fDrag.get();
}

void TServerListView::startDrag(Qt::DropActions)
{
    QMimeData *data = beginDrag();
    if (!data)
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(data);
    drag->exec(Qt::MoveAction);
    endDrag();
}

void TServerListView::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasFormat(kDragFormat))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TServerListView::dragMoveEvent(QDragMoveEvent *event)
{
    if (fEvents->lvSvrDragOver(dragSource(event->mimeData()), event->position().toPoint()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TServerListView::dropEvent(QDropEvent *event)
{
    fEvents->lvSvrDragDrop(dragSource(event->mimeData()), event->position().toPoint());
    event->setDropAction(Qt::IgnoreAction); // the rows are moved by the window, not by the list
    event->accept();
}
