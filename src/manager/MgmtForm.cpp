#include "MgmtForm.h"

#include "CatalogueEvents.h"

#include "AppError.h"
#include "ClientForm.h"
#include "Clock.h"
#include "HistoryStore.h"
#include "IcmpPing.h"
#include "LatencyColumnOption.h"
#include "MsgBox.h"
#include "PingEngine.h"
#include "ProbeNotice.h"
#include "ServerFilterModel.h"
#include "ServerFind.h"
#include "ServerHistory.h"
#include "ServerListModel.h"
#include "DatabaseTransfer.h"
#include "KeyringCommands.h"
#include "ServerTransfer.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>

namespace {

QPushButton *button(QWidget *parent, const char *name, int w, int h)
{
    auto *b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setFixedSize(w, h);
    return b;
}

// A widget at the top of a row of its own, of the given height, indented
// from the panel's left edge.
void addRow(QGridLayout *column, QWidget *widget, int indent, int height)
{
    auto *row = new QHBoxLayout;
    row->setContentsMargins(indent, 0, 0, 0);
    row->addWidget(widget, 0, Qt::AlignTop);
    row->addStretch(1);
    const int at = column->rowCount();
    column->addLayout(row, at, 0);
    column->setRowMinimumHeight(at, height);
}

// A button that shows its action's caption and follows its enabled and visible state.
void bindButton(QPushButton *b, QAction *action)
{
    const auto sync = [b, action] {
        b->setText(action->text());
        b->setEnabled(action->isEnabled());
        b->setVisible(action->isVisible());
    };
    sync();
    QObject::connect(action, &QAction::changed, b, sync);
    QObject::connect(b, &QPushButton::clicked, action, &QAction::trigger);
}

bool isRightButtonMessage(const QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        return static_cast<const QMouseEvent *>(event)->button() == Qt::RightButton;
    default:
        return false;
    }
}

} // namespace

TfrmMgmt::TfrmMgmt(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("frmMgmt"));
    setWindowTitle(QStringLiteral("Kestrune 1.3 "));
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPixelSize(11);
    setFont(f);
    resize(633, 521);

    buildActions();
    buildTop();
    buildRight();
    buildList();

    stat1 = new QStatusBar(this);
    stat1->setObjectName(QStringLiteral("stat1"));
    stat1->setFixedHeight(19);
    stat1->setSizeGripEnabled(false);
    stat1Panel0 = new QLabel(stat1);
    stat1Panel0->setObjectName(QStringLiteral("stat1Panel0"));
    stat1Panel0->setFixedWidth(120);
    stat1->addWidget(stat1Panel0);
    // Which server list file is in use; filled in when the list is loaded.
    auto *fileLabel = new QLabel(stat1);
    fileLabel->setObjectName(QStringLiteral("stat1File"));
    fileLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    stat1->addWidget(fileLabel, 1);
    stat1Probe = new QLabel(stat1);
    stat1Probe->setObjectName(QStringLiteral("stat1Probe"));
    stat1Probe->hide();
    stat1->addPermanentWidget(stat1Probe);

    auto *middle = new QHBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    middle->setSpacing(0);
    find_ = new TServerFind(lvSvr, filter_, this);
    connect(find_, &TServerFind::connectRequested, this, [this] { Guard([&] { actConnectExecute(); }); });
    connect(find_, &TServerFind::quickConnectRequested, this,
            [this](const TClientSettings &settings) { Guard([&] { OpenSession(settings); }); });
    transfer_ = new TServerTransfer(lvSvr, pmLv, this);
    connect(transfer_, &TServerTransfer::refreshRequested, this, [this] { Guard([&] { RefreshSvrList(); }); });
    connect(transfer_, &TServerTransfer::groupsChanged, this, [this] { Guard([&] { refillGroupCombo(); }); });
    connect(cbbGrp, &QComboBox::currentTextChanged, transfer_, &TServerTransfer::SetChosenGroup);
    databaseTransfer_ = new TDatabaseTransfer(pmLv, this);
    keyring_ = new TKeyringCommands(pmLv, stat1, this);
    connect(keyring_, &TKeyringCommands::sessionRequested, this,
            [this](const TClientSettings &settings) { Guard([&] { OpenSession(settings); }); });
    probeNotice_ = new TProbeNotice(this);
    auto *listColumn = new QVBoxLayout;
    listColumn->setSpacing(0);
    listColumn->addWidget(probeNotice_);
    listColumn->addWidget(find_);
    listColumn->addWidget(lvSvr, 1);
    middle->addLayout(listColumn, 1);
    middle->addWidget(pnlRight);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(pnlTop);
    layout->addLayout(middle, 1);
    layout->addWidget(stat1);

    buildListKeys();
    setTabOrders();

    // The update handlers run whenever the application falls idle.
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
            [this] { Guard([&] { UpdateActions(); }); });
    qApp->installEventFilter(this);
    Guard([&] { FormCreate(); });
}

TfrmMgmt::~TfrmMgmt()
{
    qApp->removeEventFilter(this);
    FormDestroy();
}

void TfrmMgmt::buildActions()
{
    actlstSvr = new QObject(this);
    actlstSvr->setObjectName(QStringLiteral("actlstSvr"));
    actAdd = makeAction("actAdd", QStringLiteral("添加(&A)"), QKeySequence(Qt::CTRL | Qt::Key_N), &TfrmMgmt::actAddExecute);
    actOpen = makeAction("actOpen", QStringLiteral("修改(&E)"), QKeySequence(Qt::Key_F2), &TfrmMgmt::actOpenExecute);
    actConnect = makeAction("actConnect", QStringLiteral("连接(&C)"), QKeySequence(Qt::Key_F3), &TfrmMgmt::actConnectExecute);
    actDelete = makeAction("actDelete", QStringLiteral("删除(&D)"), QKeySequence(Qt::CTRL | Qt::Key_D), &TfrmMgmt::actDeleteExecute);
    actRenameGrp = makeAction("actRenameGrp", QStringLiteral("重命名组(&R)"), {}, &TfrmMgmt::actRenameGrpExecute);
    actDelGrp = makeAction("actDelGrp", QStringLiteral("删除组"), {}, &TfrmMgmt::btnDeleteGrpClick);
}

QAction *TfrmMgmt::makeAction(const char *name, const QString &caption, const QKeySequence &shortcut,
                              void (TfrmMgmt::*execute)())
{
    auto *action = new QAction(caption, actlstSvr);
    action->setObjectName(QLatin1String(name));
    action->setShortcut(shortcut);
    // Keys reach the manager's commands only while the focus is inside the manager.
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(action);
    connect(action, &QAction::triggered, this, [this, execute] { Guard([&] { (this->*execute)(); }); });
    return action;
}

void TfrmMgmt::buildTop()
{
    pnlTop = new QWidget(this);
    pnlTop->setObjectName(QStringLiteral("pnlTop"));
    pnlTop->setFixedHeight(128);
    WebBrowser1 = new QWidget(pnlTop);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    WebBrowser1->setFixedSize(468, 60);
    btnConnect = button(pnlTop, "btnConnect", 75, 25);
    btnAdd = button(pnlTop, "btnAdd", 75, 25);
    btnOpen = button(pnlTop, "btnOpen", 75, 25);
    btnDelete = button(pnlTop, "btnDelete", 75, 25);
    sBitBtn1 = new QWidget(pnlTop);
    sBitBtn1->setObjectName(QStringLiteral("sBitBtn1"));
    sBitBtn1->setFixedSize(131, 25);
    bindButton(btnConnect, actConnect);
    bindButton(btnAdd, actAdd);
    bindButton(btnOpen, actOpen);
    bindButton(btnDelete, actDelete);

    // The banner above; below it connect, a gap, add, edit and delete, and the
    // link button at the right.
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addWidget(btnConnect);
    buttons->addSpacing(39);
    buttons->addWidget(btnAdd);
    buttons->addWidget(btnOpen);
    buttons->addWidget(btnDelete);
    buttons->addStretch(1);
    buttons->addWidget(sBitBtn1);
    auto *column = new QVBoxLayout(pnlTop);
    column->setContentsMargins(24, 11, 8, 18);
    column->setSpacing(14);
    column->addWidget(WebBrowser1, 0, Qt::AlignLeft);
    column->addLayout(buttons);
}

void TfrmMgmt::buildRight()
{
    pnlRight = new QWidget(this);
    pnlRight->setObjectName(QStringLiteral("pnlRight"));
    pnlRight->setFixedWidth(145);
    btnNewGrp = button(pnlRight, "btnNewGrp", 91, 25);
    btnNewGrp->setText(QStringLiteral("新建组(&N)"));
    btnSetGrp = button(pnlRight, "btnSetGrp", 91, 25);
    btnSetGrp->setText(QStringLiteral("设置组(&G)"));
    cbbGrp = new QComboBox(pnlRight);
    cbbGrp->setObjectName(QStringLiteral("cbbGrp"));
    cbbGrp->setFixedWidth(131);
    btnEditGrp = button(pnlRight, "btnEditGrp", 91, 25);
    btnEditGrp->setText(QStringLiteral("重命名组(&R)"));
    btnDeleteGrp = button(pnlRight, "btnDeleteGrp", 91, 25);
    bindButton(btnDeleteGrp, actDelGrp);
    connect(btnNewGrp, &QPushButton::clicked, this, [this] { Guard([&] { btnNewGrpClick(); }); });
    connect(btnSetGrp, &QPushButton::clicked, this, [this] { Guard([&] { btnSetGrpClick(); }); });
    connect(btnEditGrp, &QPushButton::clicked, this, [this] { Guard([&] { btnEditGrpClick(); }); });

    // The group buttons in a column, the combo between them, each row of its own height.
    auto *column = new QGridLayout(pnlRight);
    column->setContentsMargins(0, 30, 0, 0);
    column->setSpacing(0);
    addRow(column, btnNewGrp, 22, 39);
    addRow(column, btnSetGrp, 22, 48);
    addRow(column, cbbGrp, 6, 43);
    addRow(column, btnEditGrp, 22, 39);
    addRow(column, btnDeleteGrp, 22, 25);
    column->setRowStretch(column->rowCount(), 1);
}

// Keys on the list, besides the commands' own shortcuts.
void TfrmMgmt::buildListKeys()
{
    const auto bind = [this](std::initializer_list<QKeySequence> keys, void (TfrmMgmt::*handler)()) {
        for (const QKeySequence &key : keys) {
            auto *shortcut = new QShortcut(key, lvSvr, nullptr, nullptr, Qt::WidgetShortcut);
            connect(shortcut, &QShortcut::activated, this, [this, handler] { Guard([&] { (this->*handler)(); }); });
        }
    };
    bind({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}, &TfrmMgmt::lvSvrEnter);
    bind({QKeySequence(Qt::Key_Left), QKeySequence(Qt::Key_Minus)}, &TfrmMgmt::lvSvrCollapseKey);
    bind({QKeySequence(Qt::Key_Right), QKeySequence(Qt::Key_Plus)}, &TfrmMgmt::lvSvrExpandKey);
    connect(lvSvr, &TServerListView::glyphClicked, this,
            [this](TRowObject *row) { Guard([&] { lvSvrGlyphClick(row); }); });
}

// The window's keyboard order: the top panel (the four buttons, the banner, the
// link button), the list, then the group panel.
void TfrmMgmt::setTabOrders()
{
    const QWidget *order[] = {btnConnect, btnOpen, btnAdd, btnDelete, WebBrowser1, sBitBtn1, find_->edtFind, lvSvr,
                              btnNewGrp, btnSetGrp, cbbGrp, btnEditGrp, btnDeleteGrp};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(const_cast<QWidget *>(order[i - 1]), const_cast<QWidget *>(order[i]));
}

void TfrmMgmt::buildList()
{
    model_ = new ServerListModel(this);
    filter_ = new ServerFilterModel(model_, this);
    lvSvr = new TServerListView(this, this);
    lvSvr->setObjectName(QStringLiteral("lvSvr"));
    lvSvr->SetModels(model_, filter_);
    connect(lvSvr, &TServerListView::rowSelected, this, [this](TRowObject *row) {
        Guard([&] {
            if (row)
                lvSvrSelectItem(row, true);
            UpdateActions();
        });
    });
    connect(lvSvr, &QAbstractItemView::doubleClicked, this, [this] { Guard([&] { lvSvrDblClick(); }); });

    pmLv = new QMenu(this);
    pmLv->setObjectName(QStringLiteral("pmLv"));
    pmLv->addAction(actRenameGrp);
    N2 = pmLv->addSeparator();
    N2->setObjectName(QStringLiteral("N2"));
    pmLv->addAction(actOpen);
    pmLv->addAction(actConnect);
    N1 = pmLv->addSeparator();
    N1->setObjectName(QStringLiteral("N1"));
    pmLv->addAction(actAdd);
    pmLv->addAction(actDelete);

    // The history of the servers' reachability, and the column that draws it.
    history_ = std::make_unique<ServerHistory>(Clock::system());
    connect(history_.get(), &ServerHistory::historyReplaced, model_, &ServerListModel::SetHistory);
    model_->SetLatencyColumn(LatencyColumnShown());
    pmLv->addSeparator();
    actLatencyColumn = pmLv->addAction(QStringLiteral("显示延迟走势列"));
    actLatencyColumn->setObjectName(QStringLiteral("actLatencyColumn"));
    actLatencyColumn->setCheckable(true);
    actLatencyColumn->setChecked(model_->LatencyColumn());
    connect(actLatencyColumn, &QAction::toggled, this, [this](bool on) {
        Guard([&] {
            SetLatencyColumnShown(on);
            model_->SetLatencyColumn(on);
        });
    });
    lvSvr->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lvSvr, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        Guard([&] {
            UpdateActions();
            pmLv->popup(lvSvr->viewport()->mapToGlobal(at));
        });
    });
}

void TfrmMgmt::replacePlaceholder(QWidget *&slot, QWidget *widget, const char *name)
{
    QWidget *old = slot;
    widget->setObjectName(QLatin1String(name));
    widget->setFixedSize(old->size());
    delete pnlTop->layout()->replaceWidget(old, widget, Qt::FindChildrenRecursively);
    widget->show();
    slot = widget;
    old->hide();
    old->deleteLater();
    setTabOrders();
}

void TfrmMgmt::SetBanner(QWidget *banner)
{
    replacePlaceholder(WebBrowser1, banner, "WebBrowser1");
}

void TfrmMgmt::SetLinkButton(QWidget *linkButton)
{
    replacePlaceholder(sBitBtn1, linkButton, "sBitBtn1");
}

// ---- life of the window

void TfrmMgmt::FormCreate()
{
    // The probe made with the window sends nothing. Where this user may open no
    // ICMP socket the pollers probe by TCP instead and say so once; the window
    // does not report the same cause a second time.
    try {
        FPing = std::make_unique<TPing>();
    } catch (const AppError &) {
        FPing.reset();
    }
    FOpenClients.clear();
    connectCatalogueEvents();
}

void TfrmMgmt::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (shown_)
        return;
    shown_ = true;
    Guard([&] { FormShow(); });
}

void TfrmMgmt::FormShow()
{
    loadCatalogue();
    if (auto *fileLabel = stat1->findChild<QLabel *>(QStringLiteral("stat1File")); fileLabel && CatalogueEvents::Instance().Online()) {
        const QString file = (CatalogueInDatabase() ? QStringLiteral("服务器目录数据库：") : QStringLiteral("服务器列表文件："))
            + ServerListFilePath();
        fileLabel->setText(file);
        fileLabel->setToolTip(file);
    }
    RefreshSvrList();
    tellLoadProblems();
}

void TfrmMgmt::tellLoadProblems()
{
    if (const QString warning = TakeLoadWarning(); !warning.isEmpty())
        ShowMessageBox(this, warning, QMessageBox::Warning);
    // Probing by TCP is no mistake of the user's: said in the window, never in a box.
    if (const QString notice = PingEngine::shared()->notice(); !notice.isEmpty()) {
        probeNotice_->ShowNotice(notice);
        stat1Probe->setText(QStringLiteral("状态检测：TCP 端口"));
        stat1Probe->setToolTip(notice);
        stat1Probe->show();
    }
}

void TfrmMgmt::FormDestroy()
{
    ClearServerRows(model_);
    // Written at the end; the write is over before the history goes.
    history_.reset();
    FPing.reset();
    FOpenClients.clear();
}

bool TfrmMgmt::FormCloseQuery()
{
    if (FOpenClients.isEmpty())
        return true;
    return ShowMessageBox(this, QStringLiteral("已有打开的窗口,确定退出?"), QMessageBox::Question,
                          QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes;
}

void TfrmMgmt::closeEvent(QCloseEvent *event)
{
    bool canClose = true;
    Guard([&] { canClose = FormCloseQuery(); });
    if (canClose)
        event->accept();
    else
        event->ignore();
}

void TfrmMgmt::AddOpenClnt(TfrmClient *aFrmClnt)
{
    FOpenClients.append(aFrmClnt);
    connect(aFrmClnt, &TfrmClient::finished, this, &TfrmMgmt::RemoveOpenClnt, Qt::UniqueConnection);
}

void TfrmMgmt::RemoveOpenClnt(TfrmClient *aFrmClnt)
{
    const qsizetype at = FOpenClients.indexOf(aFrmClnt);
    if (at >= 0)
        FOpenClients.removeAt(at);
}

void TfrmMgmt::RefreshSvrList()
{
    cbbGrp->clear();
    for (const auto &group : GetSvrGroups())
        cbbGrp->addItem(group->GroupName);
    cbbGrp->setCurrentIndex(cbbGrp->count() > 0 ? 0 : -1);
    lvSvr->setUpdatesEnabled(false);
    ClearServerRows(model_);
    FillServerRows(model_, GetSvrList());
    lvSvr->setUpdatesEnabled(true);
    useHistory();
}

void TfrmMgmt::useHistory()
{
    // A file is known by its path; a shared catalogue by the database's address
    // (without password), which the window knows without asking the store's thread.
    const QString where = ServerListFilePath();
    const QString identity = CatalogueInDatabase() ? HistoryStore::sharedIdentity(where) : HistoryStore::iniIdentity(where);
    // A database not reached yet has sent no servers: none leaves the history for that.
    if (CatalogueInDatabase() && !CatalogueEvents::Instance().Online()) {
        history_->Use(identity, std::nullopt);
        return;
    }
    QSet<int> ids;
    for (const auto &server : GetSvrList())
        ids.insert(server->Id);
    history_->Use(identity, ids);
}

// ---- list events

TItem *TfrmMgmt::SelectedServer() const
{
    return ItemOf(lvSvr->Selected());
}

TGroupItem *TfrmMgmt::SelectedGroup() const
{
    return GroupOf(lvSvr->Selected());
}

int TfrmMgmt::comboEntryOf(const QString &name) const
{
    const int exact = cbbGrp->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    return exact >= 0 ? exact : cbbGrp->findText(name, Qt::MatchFixedString);
}

void TfrmMgmt::lvSvrSelectItem(TRowObject *item, bool selected)
{
    if (!selected || !item)
        return;
    if (TItem *server = ItemOf(item)) {
        cbbGrp->setCurrentIndex(comboEntryOf(server->Server()->Group.GroupName));
        stat1Panel0->setText(TPingThread::StatusText(server->Status()));
    } else if (TGroupItem *group = GroupOf(item)) {
        cbbGrp->setCurrentIndex(comboEntryOf(group->Caption()));
        stat1Panel0->clear();
    }
}

void TfrmMgmt::toggle(TGroupItem *group)
{
    if (group->Expanded())
        group->Collapse();
    else
        group->Expand();
}

void TfrmMgmt::toggleOrRun(void (TfrmMgmt::*serverCommand)())
{
    TRowObject *row = lvSvr->Selected();
    if (TGroupItem *group = GroupOf(row))
        toggle(group);
    else if (ItemOf(row))
        (this->*serverCommand)();
}

void TfrmMgmt::lvSvrDblClick()
{
    toggleOrRun(&TfrmMgmt::actOpenExecute);
}

void TfrmMgmt::lvSvrEnter()
{
    toggleOrRun(&TfrmMgmt::actConnectExecute);
}

void TfrmMgmt::lvSvrCollapseKey()
{
    if (TGroupItem *group = SelectedGroup()) {
        group->Collapse();
    } else if (TItem *item = SelectedServer()) {
        lvSvr->SelectRow(item->Grp());
    }
}

void TfrmMgmt::lvSvrExpandKey()
{
    if (TGroupItem *group = SelectedGroup())
        group->Expand();
}

void TfrmMgmt::lvSvrGlyphClick(TRowObject *row)
{
    if (TGroupItem *group = GroupOf(row))
        toggle(group);
}

std::unique_ptr<TDragItem> TfrmMgmt::lvSvrStartDrag()
{
    TItem *item = ItemOf(lvSvr->Selected());
    if (!item)
        return nullptr;
    return std::make_unique<TDragItem>(item, item->Row());
}

bool TfrmMgmt::lvSvrDragOver(TDragItem *source, const QPoint &at)
{
    if (!source || !source->Data())
        return false;
    TRowObject *row = lvSvr->RowAtPoint(at);
    const int draggedGroup = source->Data()->Grp()->GrpId();
    if (TGroupItem *group = GroupOf(row))
        return group->GrpId() != draggedGroup;
    if (TItem *item = ItemOf(row))
        return item->Grp()->GrpId() != draggedGroup;
    return false;
}

void TfrmMgmt::lvSvrDragDrop(TDragItem *source, const QPoint &at)
{
    TRowObject *row = lvSvr->RowAtPoint(at);
    if (!row)
        return;
    TGroupItem *target = GroupOf(row);
    if (!target)
        target = ItemOf(row)->Grp();
    if (!source || !source->Data())
        return;
    TItem *dragged = source->Data();
    PSvrItem server = dragged->Server();
    TGroupItem *oldGroup = dragged->Grp();
    MoveSvrItem(server, target->Caption());
    target->AddItem(server);
    oldGroup->DeleteItem(dragged);
    source->setData(nullptr);
    lvSvr->clearSelection();
}

bool TfrmMgmt::ApplicationEvents1MessageMessage(QObject *target, QEvent *message)
{
    if (!isRightButtonMessage(message))
        return false;
    auto *widget = qobject_cast<QWidget *>(target);
    return widget && WebBrowser1 && (WebBrowser1 == widget || WebBrowser1->isAncestorOf(widget));
}

bool TfrmMgmt::eventFilter(QObject *watched, QEvent *event)
{
    if (ApplicationEvents1MessageMessage(watched, event))
        return true;
    return QWidget::eventFilter(watched, event);
}

// ---- update handlers

void TfrmMgmt::actOpenUpdate()
{
    actOpen->setEnabled(SelectedServer() != nullptr);
}

void TfrmMgmt::actConnectUpdate()
{
    actConnect->setEnabled(SelectedServer() != nullptr);
}

void TfrmMgmt::actDeleteUpdate()
{
    actDelete->setEnabled(SelectedServer() != nullptr);
}

void TfrmMgmt::actRenameGrpUpdate()
{
    const TGroupItem *group = SelectedGroup();
    const bool renamable = group && group->GrpId() >= 0;
    actRenameGrp->setEnabled(renamable);
    actRenameGrp->setVisible(renamable);
    N2->setVisible(renamable);
}

void TfrmMgmt::actDelGrpUpdate()
{
    const bool chosen = cbbGrp->currentIndex() >= 0;
    actDelGrp->setEnabled(chosen);
    btnEditGrp->setEnabled(chosen);
    btnSetGrp->setEnabled(chosen);
}

void TfrmMgmt::UpdateActions()
{
    actOpenUpdate();
    actConnectUpdate();
    actDeleteUpdate();
    actRenameGrpUpdate();
    actDelGrpUpdate();
}
