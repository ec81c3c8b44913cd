#include "ServerTransfer.h"

#include "AppError.h"
#include "ImportGroupForm.h"
#include "MgmtForm.h"
#include "MsgBox.h"
#include "ServerExport.h"
#include "ServerImport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QMenu>
#include <QMimeData>
#include <QTimer>

namespace {

// More servers than this are shown by filling the list afresh, in one go.
constexpr size_t kRowsOneByOne = 100;

// The local files a drag carries; empty when it carries anything else.
QStringList droppedFiles(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls()) {
        if (!url.isLocalFile())
            return {};
        paths << url.toLocalFile();
    }
    return paths;
}

// The wait cursor while files are read and written.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

} // namespace

TServerTransfer::TServerTransfer(TfrmMgmt *form) : QObject(form), fForm(form)
{
    setObjectName(QStringLiteral("ServerTransfer"));
    actImport = makeAction("actImport", QStringLiteral("导入(&I)..."), QKeySequence(Qt::CTRL | Qt::Key_I),
                           &TServerTransfer::actImportExecute);
    actExport = makeAction("actExport", QStringLiteral("导出为 .rdp 文件(&X)..."), {}, &TServerTransfer::actExportExecute);
    actExportGrp = makeAction("actExportGrp", QStringLiteral("导出组为 .rdp 文件..."), {},
                              &TServerTransfer::actExportGrpExecute);
    fForm->pmLv->addSeparator();
    fForm->pmLv->addAction(actImport);
    fForm->pmLv->addAction(actExport);
    fForm->pmLv->addAction(actExportGrp);
    connect(fForm->pmLv, &QMenu::aboutToShow, this, [this] { Guard([&] { UpdateActions(); }); });
    connect(fForm->lvSvr, &QTreeWidget::itemSelectionChanged, this, [this] { Guard([&] { UpdateActions(); }); });
    UpdateActions();

    // Files dropped on the list are imported; the list's own drags pass on.
    fForm->lvSvr->viewport()->installEventFilter(this);
}

QAction *TServerTransfer::makeAction(const char *name, const QString &caption, const QKeySequence &shortcut,
                                     void (TServerTransfer::*execute)())
{
    auto *action = new QAction(caption, fForm->actlstSvr);
    action->setObjectName(QLatin1String(name));
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    fForm->addAction(action);
    connect(action, &QAction::triggered, this, [this, execute] { Guard([&] { (this->*execute)(); }); });
    return action;
}

void TServerTransfer::UpdateActions()
{
    TListItem *row = fForm->lvSvr->Selected();
    actExport->setEnabled(ItemOf(row) != nullptr);
    actExportGrp->setEnabled(row != nullptr);
}

QString TServerTransfer::groupOfRow(TListItem *row) const
{
    if (TGroupItem *group = GroupOf(row))
        return group->Caption();
    if (TItem *item = ItemOf(row))
        return item->Grp()->Caption();
    return fForm->cbbGrp->currentIndex() >= 0 ? fForm->cbbGrp->currentText() : UngroupedName();
}

void TServerTransfer::actImportExecute()
{
    const QStringList paths = QFileDialog::getOpenFileNames(fForm, QStringLiteral("导入"), QString(), ImportFileFilter());
    if (!paths.isEmpty())
        ImportFiles(paths, groupOfRow(fForm->lvSvr->Selected()));
}

// The id of the group of that name; a new group when there is none, which the
// group combo then lists as well.
int TServerTransfer::groupIdFor(const QString &name)
{
    if (name == UngroupedName())
        return UngroupedId;
    const int entry = fForm->cbbGrp->findText(name, Qt::MatchFixedString); // letter case ignored, as for new groups
    if (entry >= 0)
        return GetGroupIdByName(fForm->cbbGrp->itemText(entry));
    const int id = AddGroup(name);
    fForm->cbbGrp->addItem(name);
    return id;
}

void TServerTransfer::showAdded(const std::vector<PSvrItem> &added)
{
    if (added.size() > kRowsOneByOne) {
        fForm->RefreshSvrList();
        return;
    }
    for (PSvrItem server : added)
        AddServerRow(fForm->lvSvr, server);
}

void TServerTransfer::ImportFiles(const QStringList &paths, const QString &group)
{
    TImportBatch batch;
    {
        const WaitCursor wait;
        batch = ReadImportFiles(paths, GetSvrList());
    }
    if (batch.RecordCount() == 0) {
        ShowMessageBox(fForm, ImportSummary(batch, 0, group), QMessageBox::Information);
        return;
    }
    QStringList groups{UngroupedName()};
    for (int i = 0; i < fForm->cbbGrp->count(); ++i)
        groups << fForm->cbbGrp->itemText(i);
    QString target = group;
    const QString found = QStringLiteral("在 %1 个文件中找到 %2 台可导入的服务器。").arg(paths.size()).arg(batch.RecordCount());
    if (!AskImportGroup(fForm, found, groups, target))
        return;
    std::vector<PSvrItem> added;
    {
        const WaitCursor wait;
        added = AddImportedServers(batch, groupIdFor(target));
        showAdded(added);
    }
    ShowMessageBox(fForm, ImportSummary(batch, int(added.size()), added.front()->Group.GroupName),
                   QMessageBox::Information);
}

void TServerTransfer::actExportExecute()
{
    TItem *item = ItemOf(fForm->lvSvr->Selected());
    if (!item)
        return;
    const QString path = QFileDialog::getSaveFileName(fForm, QStringLiteral("导出为 .rdp 文件"),
                                                      RdpFileNameFor(*item->Server()),
                                                      QStringLiteral("远程桌面连接 (*.rdp)"));
    if (!path.isEmpty())
        ExportServer(*item->Server(), path);
}

void TServerTransfer::actExportGrpExecute()
{
    TListItem *row = fForm->lvSvr->Selected();
    TGroupItem *group = GroupOf(row);
    if (!group && ItemOf(row))
        group = ItemOf(row)->Grp();
    if (!group)
        return;
    const QString folder = QFileDialog::getExistingDirectory(fForm, QStringLiteral("导出组“%1”到文件夹").arg(group->Caption()));
    if (folder.isEmpty())
        return;
    std::vector<PSvrItem> servers;
    for (const auto &item : group->Items())
        servers.push_back(item->Server());
    const QStringList written = ExportServers(servers, folder);
    ShowMessageBox(fForm, QStringLiteral("已将 %1 台服务器导出到“%2”（不含密码）。").arg(written.size()).arg(QDir::toNativeSeparators(folder)),
                   QMessageBox::Information);
}

bool TServerTransfer::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDropEvent *>(event);
        if (droppedFiles(drag->mimeData()).isEmpty())
            break;
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QStringList paths = droppedFiles(drop->mimeData());
        if (paths.isEmpty())
            break;
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        const QString group = groupOfRow(fForm->lvSvr->RowAtPoint(drop->position().toPoint()));
        // The questions come after the drop is over, not inside it.
        QTimer::singleShot(0, this, [this, paths, group] { Guard([&] { ImportFiles(paths, group); }); });
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
