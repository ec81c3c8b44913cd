#include "ServerListView.h"

#include <QDrag>
#include <QDragMoveEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QMouseEvent>
#include <QStyledItemDelegate>

namespace {

const QString kDragFormat = QStringLiteral("application/x-brennic-server-row");

} // namespace

// The list's own delegate, which also tells where it draws a row's glyph.
class TGlyphDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QRect glyphRect(QStyleOptionViewItem option, const QModelIndex &index, const QWidget *view) const
    {
        initStyleOption(&option, index);
        if (!(option.features & QStyleOptionViewItem::HasDecoration))
            return QRect();
        return view->style()->subElementRect(QStyle::SE_ItemViewItemDecoration, &option, view);
    }
};

TServerListView::TServerListView(TServerListEvents *events, QWidget *parent)
    : QTreeWidget(parent), fEvents(events), fDelegate(new TGlyphDelegate(this))
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
    setItemDelegate(fDelegate);
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

QRect TServerListView::GlyphRect(TListItem *row) const
{
    if (!row || row->ImageIndex() < 0)
        return QRect();
    const QModelIndex index = indexFromItem(row, ColServer);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    return fDelegate->glyphRect(option, index, this);
}

TListItem *TServerListView::glyphAt(const QMouseEvent *event) const
{
    if (event->button() != Qt::LeftButton)
        return nullptr;
    const QPoint at = event->position().toPoint();
    TListItem *row = RowAtPoint(at);
    return GlyphRect(row).contains(at) ? row : nullptr;
}

void TServerListView::mousePressEvent(QMouseEvent *event)
{
    TListItem *row = glyphAt(event);
    QTreeWidget::mousePressEvent(event);
    if (row)
        emit glyphClicked(row);
}

void TServerListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second press of a double click on a glyph has toggled the group
    // again, as the first did; it is no double click on the row.
    if (glyphAt(event)) {
        event->accept();
        return;
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

QMimeData *TServerListView::beginDrag()
{
    fDrag = fEvents->lvSvrStartDrag();
    if (!fDrag)
        return nullptr;
    fDragToken = QByteArray::number(quintptr(fDrag.get()), 16);
    auto *mimeData = new QMimeData;
    mimeData->setData(kDragFormat, fDragToken);
    return mimeData;
}

void TServerListView::endDrag()
{
    fDrag.reset();
    fDragToken.clear();
}

TDragItem *TServerListView::dragSource(const QMimeData *mimeData) const
{
    if (!fDrag || !mimeData || mimeData->data(kDragFormat) != fDragToken)
        return nullptr;
    return fDrag.get();
}

void TServerListView::startDrag(Qt::DropActions)
{
    QMimeData *mimeData = beginDrag();
    if (!mimeData)
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(mimeData);
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
