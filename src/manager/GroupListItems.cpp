#include "GroupListItems.h"

#include "PingThread.h"
#include "RowLook.h"

#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QTreeWidget>

namespace {

QPixmap drawGlyph(bool plus)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QColor(128, 128, 128));
    painter.drawRect(3, 3, 8, 8); // a 9 x 9 outline
    painter.setPen(Qt::black);
    painter.drawLine(5, 7, 9, 7); // five pixels wide
    if (plus)
        painter.drawLine(7, 5, 7, 9);
    return pixmap;
}

// What a server row keeps of its own beside its record: four columns and no
// values. Rows copy it, so they all share its (implicitly shared) lists; the
// column count tells the list which cells a change of the row repaints.
const QTreeWidgetItem &serverRowShape()
{
    static const QTreeWidgetItem shape = [] {
        QTreeWidgetItem item;
        item.setData(ColumnCount - 1, Qt::DisplayRole, QVariant());
        return item;
    }();
    return shape;
}

} // namespace

QIcon GroupGlyph(int index)
{
    static const QIcon glyphs[2] = {QIcon(drawGlyph(false)), QIcon(drawGlyph(true))};
    return index >= 0 && index < 2 ? glyphs[index] : QIcon();
}

// ---- TListItem

void TListItem::setImageIndex(int index)
{
    if (index == fImageIndex)
        return;
    fImageIndex = index;
    emitDataChanged();
}

void TListItem::setOwnedData(std::unique_ptr<TRowObject> data)
{
    fOwned = std::move(data);
    fData = fOwned.get();
}

void TListItem::setSubItems(const QStringList &texts)
{
    fSubItems = int(texts.size());
    for (int i = 0; i < fSubItems; ++i)
        setText(i + 1, texts[i]);
}

void TListItem::ShowServer()
{
    if (!fShowsServer && columnCount() < ColumnCount)
        QTreeWidgetItem::operator=(serverRowShape());
    fShowsServer = true;
    fSubItems = ColumnCount - 1;
    emitDataChanged();
}

QVariant TListItem::serverText(int column) const
{
    const TItem *item = fShowsServer ? ItemOf(this) : nullptr;
    if (!item || !item->Server())
        return QVariant();
    switch (column) {
    case ColServer:
        return item->Server()->ClntSett.Server;
    case ColUser:
        return item->Server()->ClntSett.User;
    case ColDescription:
        return item->Server()->Description;
    default:
        return QVariant();
    }
}

QString TListItem::address() const
{
    return text(ColServer);
}

unsigned short TListItem::port() const
{
    const TItem *item = ItemOf(this);
    const int port = item && item->Server() ? item->Server()->ClntSett.Port : 3389;
    return port > 0 && port < 65536 ? static_cast<unsigned short>(port) : 3389;
}

void TListItem::setStatus(HostStatus status)
{
    if (fSubItems < 2 || status == fStatus)
        return;
    fStatus = status;
    // The colours of every cell follow the status, not the status cell's alone.
    emitDataChanged();
}

QVariant TListItem::data(int column, int role) const
{
    const bool group = fImageIndex >= 0;
    switch (role) {
    case Qt::DisplayRole:
        if (column == ColStatus && fSubItems >= 2)
            return TPingThread::StatusText(fStatus);
        if (const QVariant value = serverText(column); value.isValid())
            return value;
        break;
    case Qt::DecorationRole:
        if (column == ColServer)
            return fImageIndex >= 0 ? QVariant(GroupGlyph(fImageIndex)) : QVariant();
        break;
    case Qt::FontRole:
        if (group && treeWidget()) {
            QFont font = treeWidget()->font();
            font.setBold(true);
            return font;
        }
        break;
    case Qt::BackgroundRole:
        if (!group)
            return RowBackground(fStatus);
        break;
    case Qt::ForegroundRole:
        if (!group && column == ColStatus)
            return StatusForeground(fStatus);
        break;
    case Qt::ToolTipRole:
        return toolTip();
    default:
        break;
    }
    return QTreeWidgetItem::data(column, role);
}

// Address and port, then the user, domain and description where there are
// any: what tells two servers on one host apart.
QString TListItem::toolTip() const
{
    const TItem *item = ItemOf(this);
    if (!item || !item->Server())
        return QString();
    const TClientSettings &settings = item->Server()->ClntSett;
    QStringList lines{QStringLiteral("%1:%2").arg(settings.Server).arg(settings.Port)};
    const auto add = [&lines](const QString &label, const QString &value) {
        if (!value.trimmed().isEmpty())
            lines << label + value;
    };
    add(QStringLiteral("用户名: "), settings.User);
    add(QStringLiteral("域: "), settings.Domain);
    add(QStringLiteral("备注: "), item->Server()->Description);
    if (fStatus == HostStatus::NotFound)
        lines << QStringLiteral("找不到主机");
    return lines.join(QLatin1Char('\n'));
}

// ---- TItem

TItem::~TItem()
{
    // Every poller ends with its row object, a paused one too: none outlives its list.
    if (fPiThd)
        fPiThd->Terminate();
}

// ---- TGroupItem

TGroupItem::TGroupItem(const TSvrGroup &aGroup) : fCaption(aGroup.GroupName), FGrpId(aGroup.GroupId) {}

TGroupItem::~TGroupItem() = default;

TListView *TGroupItem::list() const
{
    return fListItem ? fListItem->treeWidget() : nullptr;
}

void TGroupItem::setCaption(const QString &name)
{
    fCaption = name;
    if (fListItem)
        fListItem->setText(ColServer, name);
    for (const auto &item : fItems)
        item->Server()->Group.GroupName = name;
}

namespace {

TListItem *makeServerRow(TItem *item)
{
    auto *row = new TListItem;
    row->setData(item);
    row->ShowServer();
    item->setListItem(row);
    return row;
}

} // namespace

// A new poller, paused; it shows its reports in the row it is bound to, which
// is the row that shows the item.
TPingThread *TGroupItem::makePoller()
{
    return new TPingThread(true, list());
}

void TGroupItem::startPoller(TItem *item)
{
    if (!item->PingThd())
        item->setPingThd(makePoller());
    item->PingThd()->setListItem(item->ListItem());
    item->PingThd()->Resume();
}

TItem *TGroupItem::AppendItem(PSvrItem server)
{
    fItems.push_back(std::make_unique<TItem>(server));
    TItem *item = fItems.back().get();
    item->setGrp(this);
    return item;
}

TItem *TGroupItem::AddItem(PSvrItem server)
{
    TItem *item = AppendItem(server);
    if (!fExpanded) {
        // A collapsed group keeps its new server's row back until it is expanded.
        item->setPingThd(makePoller());
        return item;
    }
    TListView *view = list();
    const int index = IndexOfRow(view, fListItem) + int(fItems.size());
    view->insertTopLevelItem(std::min(index, view->topLevelItemCount()), makeServerRow(item));
    startPoller(item);
    return item;
}

QList<QTreeWidgetItem *> TGroupItem::MakeServerRows()
{
    QList<QTreeWidgetItem *> rows;
    rows.reserve(qsizetype(fItems.size()));
    for (const auto &item : fItems)
        rows.append(makeServerRow(item.get()));
    return rows;
}

void TGroupItem::StartPollers()
{
    for (const auto &item : fItems)
        startPoller(item.get());
}

void TGroupItem::Expand()
{
    if (fExpanded)
        return;
    fExpanded = true;
    fListItem->setImageIndex(0);
    list()->insertTopLevelItems(IndexOfRow(list(), fListItem) + 1, MakeServerRows());
    StartPollers();
}

void TGroupItem::Collapse()
{
    if (!fExpanded)
        return;
    fListItem->setImageIndex(1);
    fExpanded = false;
    TListView *view = list();
    const int first = IndexOfRow(view, fListItem) + 1;
    int count = 0;
    while (TItem *item = ItemOf(RowAt(view, first + count))) {
        if (item->PingThd()) {
            item->PingThd()->Suspend();
            item->PingThd()->setListItem(nullptr);
        }
        item->setListItem(nullptr);
        ++count;
    }
    // One removal for all the rows, rather than one per row.
    if (count > 0)
        view->model()->removeRows(first, count);
}

void TGroupItem::DeleteItem(TItem *item)
{
    if (item->PingThd()) {
        item->PingThd()->Terminate();
        item->setPingThd(nullptr);
    }
    delete item->ListItem();
    item->setListItem(nullptr);
    const auto it = std::find_if(fItems.begin(), fItems.end(), [&](const auto &p) { return p.get() == item; });
    if (it != fItems.end())
        fItems.erase(it);
}

// ---- free operations

TListItem *RowAt(TListView *list, int index)
{
    if (!list || index < 0 || index >= list->topLevelItemCount())
        return nullptr;
    return static_cast<TListItem *>(list->topLevelItem(index));
}

int IndexOfRow(TListView *list, TListItem *row)
{
    return list && row ? list->indexOfTopLevelItem(row) : -1;
}

TGroupItem *GroupOf(const TListItem *row)
{
    TRowObject *data = row ? row->Data() : nullptr;
    return data && data->IsGroup() ? static_cast<TGroupItem *>(data) : nullptr;
}

TItem *ItemOf(const TListItem *row)
{
    TRowObject *data = row ? row->Data() : nullptr;
    return data && !data->IsGroup() ? static_cast<TItem *>(data) : nullptr;
}

TListItem *MakeGroupRow(std::unique_ptr<TGroupItem> group)
{
    auto *row = new TListItem;
    row->setText(ColServer, group->Caption());
    row->setImageIndex(0);
    group->setListItem(row);
    row->setOwnedData(std::move(group));
    return row;
}

void AddGroupRow(TListView *list, std::unique_ptr<TGroupItem> group)
{
    list->addTopLevelItem(MakeGroupRow(std::move(group)));
}

TGroupItem *FindGroupRow(TListView *list, int id)
{
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (TGroupItem *group = GroupOf(RowAt(list, i)); group && group->GrpId() == id)
            return group;
    return nullptr;
}

TGroupItem *RenameGroupRow(TListView *list, int id, const QString &name)
{
    TGroupItem *group = FindGroupRow(list, id);
    if (group)
        group->setCaption(name);
    return group;
}

int DeleteGroupRow(TListView *list, int id)
{
    TGroupItem *group = FindGroupRow(list, id);
    if (!group)
        return -1;
    TListItem *row = group->ListItem();
    const int index = IndexOfRow(list, row);
    delete row; // frees the group object it owns, and with it its servers' row objects
    return index;
}

void AddServerRow(TListView *list, PSvrItem server)
{
    TGroupItem *group = FindGroupRow(list, server->Group.GroupId);
    if (!group) {
        auto made = std::make_unique<TGroupItem>(server->Group);
        group = made.get();
        AddGroupRow(list, std::move(made));
    }
    group->AddItem(server);
}

void FillServerRows(TListView *list, const TSvrList &records)
{
    if (list->topLevelItemCount() > 0) {
        for (const auto &server : records)
            AddServerRow(list, server.get());
        return;
    }
    // Into an empty list all rows go at once, in the order that adding the
    // servers one by one would give: groups in the order of their first server.
    std::vector<TGroupItem *> groups;
    QHash<int, TGroupItem *> byId;
    std::vector<std::unique_ptr<TGroupItem>> made;
    for (const auto &server : records) {
        TGroupItem *group = byId.value(server->Group.GroupId);
        if (!group) {
            made.push_back(std::make_unique<TGroupItem>(server->Group));
            group = made.back().get();
            byId.insert(server->Group.GroupId, group);
            groups.push_back(group);
        }
        group->AppendItem(server.get());
    }
    QList<QTreeWidgetItem *> rows;
    for (auto &group : made) {
        TGroupItem *g = group.get();
        rows.append(MakeGroupRow(std::move(group)));
        rows.append(g->MakeServerRows());
    }
    list->addTopLevelItems(rows);
    for (TGroupItem *group : groups)
        group->StartPollers();
}

void ClearServerRows(TListView *list)
{
    // Each group row owns its group object, whose server row objects stop their
    // pollers as they go, paused ones included.
    list->clear();
}

TItem *FindServerItem(TListView *list, PSvrItem server)
{
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (TGroupItem *group = GroupOf(RowAt(list, i)))
            for (const auto &item : group->Items())
                if (item->Server() == server)
                    return item.get();
    return nullptr;
}
