// The server and group commands of the manager window.
#include "MgmtForm.h"

#include "ServerHistory.h"

#include "ClientForm.h"
#include "CatalogueConflict.h"
#include "EditConflict.h"
#include "EditForm.h"
#include "GrpForm.h"
#include "KeyringCommands.h"
#include "MsgBox.h"
#include "PingThread.h"
#include "ServerListModel.h"

#include <QComboBox>

namespace {

// Resumes a paused poller when the command ends, however it ends.
class ResumeOnExit {
public:
    explicit ResumeOnExit(TPingThread *poller) : poller_(poller) {}
    ~ResumeOnExit()
    {
        if (poller_)
            poller_->Resume();
    }
    // The row went with its poller: nothing to resume.
    void Dismiss() { poller_.clear(); }
    ResumeOnExit(const ResumeOnExit &) = delete;
    ResumeOnExit &operator=(const ResumeOnExit &) = delete;

private:
    QPointer<TPingThread> poller_;
};

int findEntry(const QComboBox *combo, const QString &name)
{
    return combo->findText(name, Qt::MatchFixedString); // whole entry, letter case ignored
}

} // namespace

void TfrmMgmt::actAddExecute()
{
    TClientSettings settings;
    QString description;
    PSvrItem server = nullptr;
    const auto save = [&](const TClientSettings &typed, const QString &text) {
        server = AddSvrItem(typed, UngroupedId, text);
    };
    if (!EditServerSettings(this, settings, description, save) || !server)
        return;
    AddServerRow(model_, server);
}

void TfrmMgmt::actOpenExecute()
{
    TItem *item = SelectedServer();
    if (!item)
        return;
    if (item->PingThd())
        item->PingThd()->Suspend();
    ResumeOnExit resume(item->PingThd());

    PSvrItem server = item->Server();
    TSvrItem seen = *server; // the record as the user last saw it
    TClientSettings settings = server->ClntSett;
    QString description = server->Description;
    const int id = server->Id;
    const int groupId = server->Group.GroupId;
    // What the dialog shows is this version of the record; a save checks that it still is.
    int version = SvrItemVersion(id);
    // In a shared catalogue another administrator may delete the server while the
    // dialog (or the question about a colleague's change) is open; the row and the
    // record are then gone when it closes.
    editingId_ = id;
    editedGone_ = false;
    bool saved = false;
    bool goneOnSave = false;
    // The record takes the new settings once they are stored; the dialog stays open
    // with everything typed while the store refuses. A colleague who saved the server
    // meanwhile is shown, and the user keeps their edits over it or takes it.
    const auto save = [&](const TClientSettings &typed, const QString &text) {
        if (editedGone_)
            return;
        TClientSettings mine = typed;
        QString myText = text;
        for (;;) {
            try {
                UpdateSvrItem(id, mine, myText, version);
                saved = true;
                return;
            } catch (const EServerGone &) {
                goneOnSave = true;
                return;
            } catch (const EServerChanged &conflict) {
                const TSvrItem theirs = conflict.Theirs();
                version = conflict.Version();
                const bool keepMine = KeepMineOverColleague(this, seen, theirs);
                if (keepMine)
                    KeepMineOnTop(seen, theirs, mine, myText);
                seen = theirs;
                if (!keepMine)
                    return;
            }
        }
    };
    const bool confirmed = EditServerSettings(this, settings, description, save);
    editingId_ = -1;
    if (editedGone_) {
        resume.Dismiss();
        if (confirmed)
            keepEditsOfDeletedServer(settings, description, groupId);
        return;
    }
    // A row a colleague's move replaced has a new poller, running; the old one is stopping.
    if (FindServerItem(model_, server) != item) {
        resume.Dismiss();
        item = FindServerItem(model_, server);
    }
    if (!confirmed)
        return;
    if (goneOnSave) {
        keepEditsOfDeletedServer(settings, description, groupId);
        return;
    }
    if (!saved)
        return;
    if (item)
        model_->ServerChanged(item);
}

void TfrmMgmt::actConnectExecute()
{
    TItem *item = SelectedServer();
    if (!item)
        return;
    const TClientSettings settings = item->Server()->ClntSett;
    if (settings.Server.trimmed().isEmpty()) {
        ShowMessageBox(this, QStringLiteral("服务器空,请添加"));
        return;
    }
    if (settings.User.trimmed().isEmpty()) {
        ShowMessageBox(this, QStringLiteral("请输入用户名"));
        return;
    }
    // A password kept in the desktop keyring leaves the file's field empty.
    if (settings.Password.isEmpty() && keyring_->ConnectFromKeyring(item->Server()->Id, settings))
        return;
    if (settings.Password.trimmed().isEmpty()) {
        ShowMessageBox(this, QStringLiteral("请输入密码"));
        return;
    }
    OpenSession(settings);
}

void TfrmMgmt::actDeleteExecute()
{
    TItem *item = SelectedServer();
    if (!item)
        return;
    const PSvrItem server = item->Server();
    const int id = server->Id;
    if (ShowMessageBox(this, QStringLiteral("确定删除?"), QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    // Another administrator may have deleted it while the question was open.
    if (GetSvrItem(id) != server || FindServerItem(model_, server) != item)
        return;
    DeleteSvrItem(server);
    history_->Forget(id);
    item->Grp()->DeleteItem(item);
}

void TfrmMgmt::btnSetGrpClick()
{
    TItem *item = SelectedServer();
    if (!item || cbbGrp->currentIndex() < 0)
        return;
    SetSvrGroup(item->Server()->Id, cbbGrp->currentText());
    RefreshSvrList();
}

void TfrmMgmt::btnNewGrpClick()
{
    QString name;
    if (!AskGroupName(this, name))
        return;
    if (findEntry(cbbGrp, name) >= 0)
        return;
    // The group is in the file before the window shows it anywhere.
    const int id = AddGroup(name);
    cbbGrp->addItem(name);
    cbbGrp->setCurrentIndex(cbbGrp->count() - 1);
    AddGroupRow(model_, std::make_unique<TGroupItem>(GetGroup(id)));
}

void TfrmMgmt::btnEditGrpClick()
{
    if (cbbGrp->currentIndex() >= 0)
        RenameGrpByDialog(cbbGrp->currentText());
}

void TfrmMgmt::actRenameGrpExecute()
{
    if (TGroupItem *group = SelectedGroup())
        RenameGrpByDialog(group->Caption());
}

void TfrmMgmt::RenameGrpByDialog(const QString &oldName)
{
    const int id = GetGroupIdByName(oldName);
    int version = GroupVersion(id);
    QString name = oldName;
    if (!AskGroupName(this, name))
        return;
    if (findEntry(cbbGrp, name) >= 0)
        return;
    for (bool conflicted = false;; conflicted = true) {
        try {
            RenameGroup(id, name, version);
        } catch (const EGroupChanged &conflict) {
            if (!KeepMineOverColleague(this, name, conflict.Theirs()))
                return; // the colleague's name reaches the list as their change
            version = conflict.Version();
            continue;
        }
        if (!conflicted)
            break;
        // The colleague's name may be in the list already: both are made again from the catalogue.
        refillGroupCombo();
        cbbGrp->setCurrentIndex(comboEntryOf(name));
        RenameGroupRow(model_, id, name);
        return;
    }

    const int at = cbbGrp->currentIndex() >= 0 ? cbbGrp->currentIndex() : cbbGrp->count();
    cbbGrp->insertItem(at, name);
    // Group names match regardless of letter case; of two that differ only
    // in case, the one spelt as the old name goes.
    const int old = comboEntryOf(oldName);
    if (old >= 0)
        cbbGrp->removeItem(old);
    cbbGrp->setCurrentIndex(comboEntryOf(name));
    RenameGroupRow(model_, id, name);
}

void TfrmMgmt::btnDeleteGrpClick()
{
    if (cbbGrp->currentIndex() < 0)
        return;
    const int id = GetGroupIdByName(cbbGrp->currentText());
    if (GroupHasServers(id)) {
        ShowMessageBox(this, QStringLiteral("无法删除，请先删除服务器"));
        return;
    }
    DeleteGroup(id);
    DeleteGroupRow(model_, id);
    cbbGrp->removeItem(cbbGrp->currentIndex());
    cbbGrp->setCurrentIndex(-1);
}

void TfrmMgmt::OpenSession(const TClientSettings &settings)
{
    // A session window reports its own failures; one that cannot even be made is
    // not reported a second time here.
    try {
        AddOpenClnt(OpenClientWindow(this, settings));
    } catch (const std::exception &) {
    }
}
