#include "ServerTransfer.h"

#include "AppError.h"
#include "FileDialog.h"
#include "ImportGroupForm.h"
#include "ServerListModel.h"
#include "ServerListView.h"
#include "MsgBox.h"
#include "ServerExport.h"
#include "ServerImport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QEventLoop>
#include <QProgressDialog>
#include <QScopeGuard>

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

TServerTransfer::TServerTransfer(TServerListView *list, QMenu *menu, QWidget *window)
    : QObject(window), list_(list), window_(window)
{
    setObjectName(QStringLiteral("ServerTransfer"));
    actImport = makeAction("actImport", QStringLiteral("导入(&I)..."), QKeySequence(Qt::CTRL | Qt::Key_I),
                           &TServerTransfer::actImportExecute);
    actExport = makeAction("actExport", QStringLiteral("导出为 .rdp 文件(&X)..."), {}, &TServerTransfer::actExportExecute);
    actExportGrp = makeAction("actExportGrp", QStringLiteral("导出组为 .rdp 文件..."), {},
                              &TServerTransfer::actExportGrpExecute);
    menu->addSeparator();
    menu->addAction(actImport);
    menu->addAction(actExport);
    menu->addAction(actExportGrp);
    connect(menu, &QMenu::aboutToShow, this, [this] { Guard([&] { UpdateActions(); }); });
    connect(list_, &TServerListView::rowSelected, this, [this] { Guard([&] { UpdateActions(); }); });
    UpdateActions();

    // Files dropped on the list are imported; the list's own drags pass on. The
    // questions come after the gesture is over, not inside it.
    list_->viewport()->installEventFilter(this);
    connect(
        this, &TServerTransfer::importRequested, this,
        [this](const QStringList &paths, const QString &group) { Guard([&] { ImportFiles(paths, group); }); },
        Qt::QueuedConnection);
}

QAction *TServerTransfer::makeAction(const char *name, const QString &caption, const QKeySequence &shortcut,
                                     void (TServerTransfer::*execute)())
{
    auto *action = new QAction(caption, this);
    action->setObjectName(QLatin1String(name));
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    window_->addAction(action);
    connect(action, &QAction::triggered, this, [this, execute] { Guard([&] { (this->*execute)(); }); });
    return action;
}

void TServerTransfer::UpdateActions()
{
    TRowObject *row = list_->Selected();
    actExport->setEnabled(ItemOf(row) != nullptr);
    actExportGrp->setEnabled(row != nullptr);
    actImport->setEnabled(!busy_);
}

QString TServerTransfer::groupOfRow(TRowObject *row) const
{
    if (TGroupItem *group = GroupOf(row))
        return group->Caption();
    if (TItem *item = ItemOf(row))
        return item->Grp()->Caption();
    return chosenGroup_.isEmpty() ? UngroupedName() : chosenGroup_;
}

void TServerTransfer::actImportExecute()
{
    const QStringList paths = FileDialog::GetOpenFileNames(window_, QStringLiteral("导入"), QString(), ImportFileFilter());
    if (!paths.isEmpty())
        ImportFiles(paths, groupOfRow(list_->Selected()));
}

// The id of the group of that name; a new group when there is none, which the
// window then lists as well.
int TServerTransfer::groupIdFor(const QString &name)
{
    if (name == UngroupedName())
        return UngroupedId;
    for (const auto &group : GetSvrGroups()) // letter case ignored, as for new groups
        if (group->GroupName.compare(name, Qt::CaseInsensitive) == 0)
            return group->GroupId;
    const int id = AddGroup(name);
    emit groupsChanged();
    return id;
}

void TServerTransfer::showAdded(const std::vector<PSvrItem> &added, bool groupsMade)
{
    // Groups made for the files' servers join the group combo with the list rebuilt.
    if (groupsMade || added.size() > kRowsOneByOne) {
        emit refreshRequested();
        return;
    }
    for (PSvrItem server : added)
        AddServerRow(list_->List(), server);
}

bool TServerTransfer::runInBackground(const QString &label, TBackgroundTask::Work work)
{
    TBackgroundTask task(std::move(work));
    QProgressDialog progress(label, QStringLiteral("取消"), 0, 0, window_);
    progress.setWindowTitle(QStringLiteral("导入"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    QEventLoop wait;
    connect(&task, &TBackgroundTask::Progress, &progress, [&progress](int done, int total) {
        progress.setMaximum(total);
        progress.setValue(done);
    });
    connect(&progress, &QProgressDialog::canceled, &task, &TBackgroundTask::Cancel);
    connect(&task, &TBackgroundTask::Finished, &wait, &QEventLoop::quit);
    task.Start();
    if (!task.IsFinished())
        wait.exec();
    // The loop also ends when the program does; the work is then cancelled, and waited for as the task goes.
    if (!task.IsFinished())
        task.Cancel();
    return task.IsFinished() && !task.IsCancelled();
}

// Asks where the servers go, and opens the sealed passwords with the master
// password typed; a master password that opens none is told and asked again.
bool TServerTransfer::askTarget(TImportBatch &batch, int fileCount, const QString &group, TImportTarget &target)
{
    TImportOffer offer;
    offer.Found = QStringLiteral("在 %1 个文件中找到 %2 台可导入的服务器。").arg(fileCount).arg(batch.RecordCount());
    offer.Groups << UngroupedName();
    for (const auto &known : GetSvrGroups())
        offer.Groups << known->GroupName;
    offer.FileGroups = batch.HasFileGroups();
    TImportChoice choice;
    choice.Group = group;
    for (;;) {
        offer.Sealed = batch.SealedCount();
        if (!AskImportGroup(window_, offer, choice))
            return false;
        if (offer.Sealed == 0 || choice.Master.isEmpty())
            break;
        int opened = 0;
        const QString master = choice.Master;
        if (!runInBackground(QStringLiteral("正在解密密码……"), [&batch, &opened, master](const TBackgroundTask::Report &report) {
                opened = OpenSealedPasswords(batch, master, report);
            }))
            return false;
        if (opened > 0)
            break;
        ShowMessageBox(window_, QStringLiteral("主密码不对，没有解开任何密码。请重新输入，或留空不导入这些密码。"));
    }
    target.KeepFileGroups = choice.KeepFileGroups;
    // A group typed is made only when a server goes into it.
    bool chosenUsed = !target.KeepFileGroups;
    for (const TImportResult &result : batch.Results)
        for (const TImportRecord &record : result.Records)
            chosenUsed = chosenUsed || record.Group.isEmpty();
    target.GroupId = chosenUsed ? groupIdFor(choice.Group) : UngroupedId;
    return true;
}

void TServerTransfer::ImportFiles(const QStringList &paths, const QString &group)
{
    if (busy_)
        return;
    busy_ = true;
    UpdateActions();
    const auto done = qScopeGuard([this] {
        busy_ = false;
        UpdateActions();
    });
    TImportBatch batch;
    if (!runInBackground(QStringLiteral("正在读取 %1 个文件……").arg(paths.size()),
                         [&batch, paths](const TBackgroundTask::Report &report) { batch = ReadImportFiles(paths, report); }))
        return;
    DropKnownServers(batch, GetSvrList());
    if (batch.RecordCount() == 0) {
        ShowMessageBox(window_, ImportSummary(batch, {}), QMessageBox::Information);
        return;
    }
    TImportTarget target;
    if (!askTarget(batch, int(paths.size()), group, target))
        return;
    const int groupsBefore = GetSvrGroups().Count();
    std::vector<PSvrItem> added;
    {
        const WaitCursor wait;
        added = AddImportedServers(batch, target);
        showAdded(added, GetSvrGroups().Count() != groupsBefore);
    }
    ShowMessageBox(window_, ImportSummary(batch, added), QMessageBox::Information);
}

void TServerTransfer::actExportExecute()
{
    TItem *item = ItemOf(list_->Selected());
    if (!item)
        return;
    const QString path = FileDialog::GetSaveFileName(window_, QStringLiteral("导出为 .rdp 文件"),
                                                     RdpFileNameFor(*item->Server()),
                                                     QStringLiteral("远程桌面连接 (*.rdp)"));
    if (!path.isEmpty())
        ExportServer(*item->Server(), path);
}

void TServerTransfer::actExportGrpExecute()
{
    TRowObject *row = list_->Selected();
    TGroupItem *group = GroupOf(row);
    if (!group && ItemOf(row))
        group = ItemOf(row)->Grp();
    if (!group)
        return;
    const QString folder = FileDialog::GetExistingDirectory(window_, QStringLiteral("导出组“%1”到文件夹").arg(group->Caption()));
    if (folder.isEmpty())
        return;
    std::vector<PSvrItem> servers;
    for (const auto &item : group->Items())
        servers.push_back(item->Server());
    const QStringList written = ExportServers(servers, folder);
    ShowMessageBox(window_, QStringLiteral("已将 %1 台服务器导出到“%2”（不含密码）。").arg(written.size()).arg(QDir::toNativeSeparators(folder)),
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
        emit importRequested(paths, groupOfRow(list_->RowAtPoint(drop->position().toPoint())));
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
