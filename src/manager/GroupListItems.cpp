#include "GroupListItems.h"

#include "PingThread.h"
#include "ServerListModel.h"

#include <QPainter>
#include <QPixmap>

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

} // namespace

QIcon GroupGlyph(int index)
{
    static const QIcon glyphs[2] = {QIcon(drawGlyph(false)), QIcon(drawGlyph(true))};
    return index >= 0 && index < 2 ? glyphs[index] : QIcon();
}

// ---- TItem

TItem::~TItem()
{
    // Every poller ends with its row object, a paused one too: none outlives its list.
    if (fPiThd)
        fPiThd->Terminate();
}

QString TItem::address() const
{
    return fServer ? fServer->ClntSett.Server : QString();
}

unsigned short TItem::port() const
{
    const int port = fServer ? fServer->ClntSett.Port : 3389;
    return port > 0 && port < 65536 ? static_cast<unsigned short>(port) : 3389;
}

// ---- TGroupItem

TGroupItem::TGroupItem(const TSvrGroup &aGroup) : fCaption(aGroup.GroupName), FGrpId(aGroup.GroupId) {}

TGroupItem::~TGroupItem() = default;

void TGroupItem::setCaption(const QString &name)
{
    fCaption = name;
    for (const auto &item : fItems)
        item->Server()->Group.GroupName = name;
    if (list_)
        list_->rowChanged(this);
}

// Binds the item's poller (made paused when it has none) to the item and resumes it.
void TGroupItem::startPoller(TItem *item)
{
    if (!item->PingThd() && list_)
        item->setPingThd(list_->makePoller());
    if (!item->PingThd())
        return;
    item->PingThd()->setListItem(item);
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
    if (!list_)
        return item;
    if (!fExpanded) {
        // A collapsed group keeps its new server's row back until it is expanded.
        item->setPingThd(list_->makePoller());
        return item;
    }
    list_->insertItemRow(item, Row() + int(fItems.size()));
    startPoller(item);
    return item;
}

void TGroupItem::StartPollers()
{
    for (const auto &item : fItems)
        startPoller(item.get());
}

void TGroupItem::Expand()
{
    if (fExpanded || !list_)
        return;
    fExpanded = true;
    list_->rowChanged(this);
    list_->insertItemRows(this, Row() + 1);
    StartPollers();
}

void TGroupItem::Collapse()
{
    if (!fExpanded || !list_)
        return;
    fExpanded = false;
    list_->rowChanged(this);
    const int first = Row() + 1;
    int count = 0;
    while (TItem *item = ItemOf(list_->RowObject(first + count))) {
        if (item->PingThd()) {
            item->PingThd()->Suspend();
            item->PingThd()->setListItem(nullptr);
        }
        ++count;
    }
    // One removal for all the rows, rather than one per row.
    list_->removeItemRows(first, count);
}

void TGroupItem::DeleteItem(TItem *item)
{
    if (item->PingThd()) {
        item->PingThd()->Terminate();
        item->setPingThd(nullptr);
    }
    if (list_ && item->Row() >= 0)
        list_->removeItemRows(item->Row(), 1);
    const auto it = std::find_if(fItems.begin(), fItems.end(), [&](const auto &p) { return p.get() == item; });
    if (it != fItems.end())
        fItems.erase(it);
}

// ---- free operations

TGroupItem *GroupOf(const TRowObject *row)
{
    return row && row->IsGroup() ? static_cast<TGroupItem *>(const_cast<TRowObject *>(row)) : nullptr;
}

TItem *ItemOf(const TRowObject *row)
{
    return row && !row->IsGroup() ? static_cast<TItem *>(const_cast<TRowObject *>(row)) : nullptr;
}

void AddGroupRow(TListView *list, std::unique_ptr<TGroupItem> group)
{
    list->AppendGroup(std::move(group));
}

TGroupItem *FindGroupRow(TListView *list, int id)
{
    return list->FindGroup(id);
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
    return group ? list->DeleteGroup(group) : -1;
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
    if (list->RowCount() > 0) {
        for (const auto &server : records)
            AddServerRow(list, server.get());
        return;
    }
    list->Fill(records);
}

void ClearServerRows(TListView *list)
{
    list->Clear();
}

TItem *FindServerItem(TListView *list, PSvrItem server)
{
    return list->FindServerItem(server);
}
