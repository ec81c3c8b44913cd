// The manager's side of a shared catalogue: what other administrators change
// reaches the list row by row; a lost database shows in the status bar.
#include "MgmtForm.h"

#include "CatalogueEvents.h"
#include "MsgBox.h"
#include "ServerHistory.h"
#include "ServerListLocation.h"
#include "ServerListModel.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QStatusBar>

void TfrmMgmt::connectCatalogueEvents()
{
    CatalogueEvents &events = CatalogueEvents::Instance();
    connect(&events, &CatalogueEvents::GroupAdded, this, [this](int id) { Guard([&] { CatalogueGroupAdded(id); }); });
    connect(&events, &CatalogueEvents::GroupRenamed, this,
            [this](int id, const QString &name) { Guard([&] { CatalogueGroupRenamed(id, name); }); });
    connect(&events, &CatalogueEvents::GroupDeleted, this, [this](int id) { Guard([&] { CatalogueGroupDeleted(id); }); });
    connect(&events, &CatalogueEvents::ServerAdded, this, [this](PSvrItem s) { Guard([&] { CatalogueServerAdded(s); }); });
    connect(&events, &CatalogueEvents::ServerChanged, this,
            [this](PSvrItem s) { Guard([&] { CatalogueServerChanged(s); }); });
    connect(&events, &CatalogueEvents::ServerMoved, this,
            [this](PSvrItem s, int oldGroup) { Guard([&] { CatalogueServerMoved(s, oldGroup); }); });
    connect(&events, &CatalogueEvents::ServerDeleting, this,
            [this](PSvrItem s) { Guard([&] { CatalogueServerDeleting(s); }); });
    connect(&events, &CatalogueEvents::Availability, this,
            [this](bool online, const QString &reason) { Guard([&] { CatalogueAvailability(online, reason); }); });
    connect(&events, &CatalogueEvents::Waiting, this, [this](bool underWay) { Guard([&] { CatalogueWaiting(underWay); }); });
}

void TfrmMgmt::refillGroupCombo()
{
    const QString chosen = cbbGrp->currentIndex() >= 0 ? cbbGrp->currentText() : QString();
    cbbGrp->clear();
    for (const auto &group : GetSvrGroups())
        cbbGrp->addItem(group->GroupName);
    cbbGrp->setCurrentIndex(chosen.isNull() ? -1 : cbbGrp->findText(chosen, Qt::MatchFixedString));
}

void TfrmMgmt::CatalogueGroupAdded(int groupId)
{
    refillGroupCombo();
    if (!FindGroupRow(model_, groupId))
        AddGroupRow(model_, std::make_unique<TGroupItem>(GetGroup(groupId)));
}

void TfrmMgmt::CatalogueGroupRenamed(int groupId, const QString &name)
{
    refillGroupCombo();
    RenameGroupRow(model_, groupId, name);
}

void TfrmMgmt::CatalogueGroupDeleted(int groupId)
{
    refillGroupCombo();
    // A row that still shows servers stays; they keep the group's id, as after a load.
    if (TGroupItem *group = FindGroupRow(model_, groupId); group && group->Items().empty())
        DeleteGroupRow(model_, groupId);
}

void TfrmMgmt::CatalogueServerAdded(PSvrItem server)
{
    AddServerRow(model_, server);
}

void TfrmMgmt::CatalogueServerChanged(PSvrItem server)
{
    if (TItem *item = FindServerItem(model_, server))
        model_->ServerChanged(item);
}

void TfrmMgmt::CatalogueServerMoved(PSvrItem server, int)
{
    if (TItem *item = FindServerItem(model_, server))
        item->Grp()->DeleteItem(item);
    AddServerRow(model_, server);
}

void TfrmMgmt::CatalogueServerDeleting(PSvrItem server)
{
    if (server->Id == editingId_)
        editedGone_ = true;
    history_->Forget(server->Id);
    if (TItem *item = FindServerItem(model_, server))
        item->Grp()->DeleteItem(item);
}

void TfrmMgmt::CatalogueAvailability(bool online, const QString &reason)
{
    auto *label = stat1->findChild<QLabel *>(QStringLiteral("stat1File"));
    if (!label)
        return;
    const QString where = QStringLiteral("服务器目录数据库：") + ServerListFilePath();
    label->setText(online ? where : QStringLiteral("与服务器目录数据库的连接已断开，列表只读，正在重新连接…"));
    label->setToolTip(online ? where : reason);
}

void TfrmMgmt::CatalogueWaiting(bool underWay)
{
    if (underWay)
        stat1->showMessage(QStringLiteral("正在等待服务器目录数据库确认更改…"));
    else
        stat1->clearMessage();
}

void TfrmMgmt::keepEditsOfDeletedServer(const TClientSettings &settings, const QString &description, int groupId)
{
    const TSvrGroup group = GetGroup(groupId);
    PSvrItem server = AddSvrItem(settings, group.GroupId, description);
    AddServerRow(model_, server);
    ShowMessageBox(this,
                   QStringLiteral("你修改的服务器 %1 已被其他管理员删除。\n你的修改没有丢失：已作为新服务器保存在“%2”中。")
                       .arg(settings.Server, group.GroupName),
                   QMessageBox::Information);
}

void TfrmMgmt::loadCatalogue()
{
    try {
        LoadGroups();
        LoadServers();
        return;
    } catch (const AppError &error) {
        if (!CatalogueInDatabase())
            throw;
        const QString local = DefaultServerListFile(QCoreApplication::applicationDirPath());
        const QString question =
            QStringLiteral("%1\n\n要改为打开本机的服务器列表文件 %2 吗？\n选“否”则继续等待数据库，连上后列表会自动出现。")
                .arg(error.message(), local);
        if (ShowMessageBox(this, question, QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
            // The lists exist, empty; the store connects by itself and fills them then.
            SvrGroups = std::make_unique<TSvrGroups>();
            SvrList = std::make_unique<TSvrList>();
            CatalogueAvailability(false, error.message());
            return;
        }
        UseIniFile(local);
    }
    LoadGroups();
    LoadServers();
}
