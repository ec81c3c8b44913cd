#include "ServerListView.h"

#include "ServerListModel.h"
#include "SparklineDelegate.h"

#include <QAbstractProxyModel>

#include <QDrag>
#include <QDragMoveEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
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
    : QTreeView(parent), events_(events), delegate_(new TGlyphDelegate(this))
{
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
    setItemDelegate(delegate_);
    setItemDelegateForColumn(ColLatency, new SparklineDelegate(this, ServerListModel::LatencyRole));
}

void TServerListView::SetModels(ServerListModel *list, QAbstractProxyModel *shown)
{
    list_ = list;
    shown_ = shown;
    setModel(shown ? static_cast<QAbstractItemModel *>(shown) : list);
    setColumnWidth(ColServer, 120);
    setColumnWidth(ColUser, 100);
    setColumnWidth(ColStatus, 80);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { emit rowSelected(Selected()); });
    connect(model(), &QAbstractItemModel::columnsInserted, this, &TServerListView::placeLatencyColumn);
    placeLatencyColumn();
}

void TServerListView::placeLatencyColumn()
{
    if (!model() || model()->columnCount() <= ColLatency)
        return;
    // Narrow, right after the status; the description stays last and takes the room left.
    header()->moveSection(header()->visualIndex(ColLatency), header()->visualIndex(ColStatus) + 1);
    setColumnWidth(ColLatency, SparklineDelegate::Width);
}

TRowObject *TServerListView::ObjectAt(const QModelIndex &shownIndex) const
{
    if (!list_ || !shownIndex.isValid())
        return nullptr;
    return list_->RowObject(shown_ ? shown_->mapToSource(shownIndex) : shownIndex);
}

QModelIndex TServerListView::ShownIndex(const TRowObject *object, int column) const
{
    if (!list_)
        return QModelIndex();
    const QModelIndex index = list_->IndexOf(object, column);
    return shown_ ? shown_->mapFromSource(index) : index;
}

TRowObject *TServerListView::Selected() const
{
    const QModelIndexList rows = selectionModel() ? selectionModel()->selectedRows() : QModelIndexList();
    return rows.isEmpty() ? nullptr : ObjectAt(rows.first());
}

TRowObject *TServerListView::RowAtPoint(const QPoint &viewportPos) const
{
    return ObjectAt(indexAt(viewportPos));
}

QRect TServerListView::RowRect(const TRowObject *object) const
{
    const QModelIndex first = ShownIndex(object, ColServer);
    if (!first.isValid())
        return QRect();
    QRect rect;
    for (int column = 0; column < model()->columnCount(); ++column)
        rect |= visualRect(first.siblingAtColumn(column));
    return rect;
}

void TServerListView::SelectRow(const TRowObject *object)
{
    const QModelIndex index = ShownIndex(object);
    if (!index.isValid())
        return;
    setCurrentIndex(index);
    selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
}

QRect TServerListView::GlyphRect(const TRowObject *row) const
{
    if (!GroupOf(row))
        return QRect();
    const QModelIndex index = ShownIndex(row, ColServer);
    if (!index.isValid())
        return QRect();
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    return delegate_->glyphRect(option, index, this);
}

TRowObject *TServerListView::glyphAt(const QMouseEvent *event) const
{
    if (event->button() != Qt::LeftButton)
        return nullptr;
    const QPoint at = event->position().toPoint();
    TRowObject *row = RowAtPoint(at);
    return GlyphRect(row).contains(at) ? row : nullptr;
}

void TServerListView::mousePressEvent(QMouseEvent *event)
{
    TRowObject *row = glyphAt(event);
    QTreeView::mousePressEvent(event);
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
    QTreeView::mouseDoubleClickEvent(event);
}

QMimeData *TServerListView::beginDrag()
{
    drag_ = events_->lvSvrStartDrag();
    if (!drag_)
        return nullptr;
    dragToken_ = QByteArray::number(quintptr(drag_.get()), 16);
    auto *mimeData = new QMimeData;
    mimeData->setData(kDragFormat, dragToken_);
    return mimeData;
}

void TServerListView::endDrag()
{
    drag_.reset();
    dragToken_.clear();
}

TDragItem *TServerListView::dragSource(const QMimeData *mimeData) const
{
    if (!drag_ || !mimeData || mimeData->data(kDragFormat) != dragToken_)
        return nullptr;
    return drag_.get();
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
    if (events_->lvSvrDragOver(dragSource(event->mimeData()), event->position().toPoint()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TServerListView::dropEvent(QDropEvent *event)
{
    events_->lvSvrDragDrop(dragSource(event->mimeData()), event->position().toPoint());
    event->setDropAction(Qt::IgnoreAction); // the rows are moved by the window, not by the list
    event->accept();
}
