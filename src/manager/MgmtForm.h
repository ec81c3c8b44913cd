#pragma once

#include "RdpCommon.h"
#include "ServerListView.h"

#include <QList>
#include <QPointer>
#include <QWidget>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QStatusBar;
class TProbeNotice;
class TServerFind;
class ServerFilterModel;
class ServerHistory;
class ServerListModel;
class TDatabaseTransfer;
class TKeyringCommands;
class TServerTransfer;
class TPing;
class TfrmClient;

// The server manager: the grouped server list with its live statuses, the
// buttons and menu of the server and group commands, and the group combo.
class TfrmMgmt : public QWidget, private TServerListEvents {
    Q_OBJECT
public:
    explicit TfrmMgmt(QWidget *parent = nullptr);
    ~TfrmMgmt() override;

    // Puts the banner and the link button into the top panel in place of their placeholders.
    void SetBanner(QWidget *banner);
    void SetLinkButton(QWidget *button);

    // The open session windows, in the order they were opened; not owned.
    const QList<TfrmClient *> &OpenClients() const { return FOpenClients; }
    // Enters a session window in the list; it leaves the list when it closes.
    void AddOpenClnt(TfrmClient *aFrmClnt);
    void RemoveOpenClnt(TfrmClient *aFrmClnt);

    void RefreshSvrList();

    // Changes other administrators made to a shared catalogue, shown row by row.
    void CatalogueGroupAdded(int groupId);
    void CatalogueGroupRenamed(int groupId, const QString &name);
    void CatalogueGroupDeleted(int groupId);
    void CatalogueServerAdded(PSvrItem server);
    void CatalogueServerChanged(PSvrItem server);
    void CatalogueServerMoved(PSvrItem server, int oldGroupId);
    void CatalogueServerDeleting(PSvrItem server);
    void CatalogueAvailability(bool online, const QString &reason);
    void CatalogueWaiting(bool underWay);
    void OpenSession(const TClientSettings &settings);
    void RenameGrpByDialog(const QString &name);

    // Handlers.
    void FormCreate();
    void FormShow();
    void FormDestroy();
    bool FormCloseQuery();
    void lvSvrSelectItem(TRowObject *item, bool selected);
    void lvSvrDblClick();
    // Enter on the list: connects to the selected server, or opens or closes
    // the selected group.
    void lvSvrEnter();
    // Left, minus: closes the selected group (Left on a server row selects its
    // group); Right, plus: opens it.
    void lvSvrCollapseKey();
    void lvSvrExpandKey();
    void lvSvrGlyphClick(TRowObject *row);
    bool ApplicationEvents1MessageMessage(QObject *target, QEvent *message);

    void actAddExecute();
    void actOpenExecute();
    void actConnectExecute();
    void actDeleteExecute();
    void actRenameGrpExecute();
    void btnDeleteGrpClick();
    void btnNewGrpClick();
    void btnSetGrpClick();
    void btnEditGrpClick();

    void actOpenUpdate();
    void actConnectUpdate();
    void actDeleteUpdate();
    void actRenameGrpUpdate();
    void actDelGrpUpdate();
    // Runs every update handler; done whenever the application falls idle.
    void UpdateActions();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Controls; each has its name as its object name.
    QWidget *pnlTop;
    QWidget *WebBrowser1; // the banner's place until the banner is set
    QPushButton *btnConnect;
    QPushButton *btnAdd;
    QPushButton *btnOpen;
    QPushButton *btnDelete;
    QWidget *sBitBtn1; // the link button's place until it is set
    QWidget *pnlRight;
    QPushButton *btnNewGrp;
    QPushButton *btnSetGrp;
    QComboBox *cbbGrp;
    QPushButton *btnEditGrp;
    QPushButton *btnDeleteGrp;
    TServerListView *lvSvr;
    QStatusBar *stat1;
    QLabel *stat1Panel0;
    QMenu *pmLv;
    QAction *N1;
    QAction *N2;
    QObject *actlstSvr;
    QAction *actAdd;
    QAction *actOpen;
    QAction *actConnect;
    QAction *actDelete;
    QAction *actRenameGrp;
    QAction *actDelGrp;
    TServerFind *find_;                   // the find box above the list
    TProbeNotice *probeNotice_;           // why the statuses come from TCP, above the find box
    QLabel *stat1Probe;                   // how the statuses are probed, when not by ICMP
    TServerTransfer *transfer_;           // import and export
    TDatabaseTransfer *databaseTransfer_; // copying the whole catalogue between a file and the database
    TKeyringCommands *keyring_;           // passwords in the desktop keyring

    // The list's drag-and-drop handlers.
    std::unique_ptr<TDragItem> lvSvrStartDrag() override;
    bool lvSvrDragOver(TDragItem *source, const QPoint &at) override;
    void lvSvrDragDrop(TDragItem *source, const QPoint &at) override;

    void buildTop();
    void buildRight();
    void buildList();
    void buildActions();
    void buildListKeys();
    void setTabOrders();
    QAction *makeAction(const char *name, const QString &caption, const QKeySequence &shortcut,
                        void (TfrmMgmt::*execute)());
    void replacePlaceholder(QWidget *&slot, QWidget *widget, const char *name);
    TItem *SelectedServer() const;
    TGroupItem *SelectedGroup() const;
    static void toggle(TGroupItem *group);
    // On the selected row: a group opens or closes, a server gets the command.
    void toggleOrRun(void (TfrmMgmt::*serverCommand)());
    // The combo's entry for a group name: the one spelt exactly so, else the
    // first that differs only in letter case; -1 when there is none.
    int comboEntryOf(const QString &name) const;
    void tellLoadProblems();
    void connectCatalogueEvents();
    // Fills the group combo from the catalogue again, keeping the chosen group.
    void refillGroupCombo();
    // Saves the edits of a server another administrator deleted while they were made,
    // as a new server, and says so.
    void keepEditsOfDeletedServer(const TClientSettings &settings, const QString &description, int groupId);
    // Loads the catalogue; when its database cannot be reached, offers the local file.
    void loadCatalogue();
    // Takes up the history of the installed catalogue's servers.
    void useHistory();

    ServerListModel *model_ = nullptr;       // the rows of the list
    ServerFilterModel *filter_ = nullptr;    // ... as the find box leaves them
    std::unique_ptr<ServerHistory> history_; // each server's reachability, kept between runs
    QAction *actLatencyColumn = nullptr;     // the list's column of latency sparklines, on or off
    std::unique_ptr<TPing> FPing;
    QList<TfrmClient *> FOpenClients;
    bool shown_ = false;
    int editingId_ = -1;      // the server whose settings dialog is open
    bool editedGone_ = false; // ... and another administrator deleted it meanwhile
};
