#include "MgmtForm.h"

#include "AppError.h"
#include "IcmpPing.h"
#include "MsgBox.h"
#include "PingEngine.h"
#include "ServerFind.h"
#include "ServerTransfer.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>

namespace {

const QColor kOfflineGrey(160, 160, 164);
const QColor kOfflineRed(255, 0, 0);
const QColor kOnlineGreen(0, 128, 0);

QPushButton *button(QWidget *parent, const char *name, int x, int y, int w, int h)
{
    auto *b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(x, y, w, h);
    return b;
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

    auto *middle = new QHBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    middle->setSpacing(0);
    FFind = new TServerFind(this);
    FTransfer = new TServerTransfer(this);
    auto *listColumn = new QVBoxLayout;
    listColumn->setSpacing(0);
    listColumn->addWidget(FFind);
    listColumn->addWidget(lvSvr, 1);
    middle->addLayout(listColumn, 1);
    middle->addWidget(pnlRight);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(pnlTop);
    layout->addLayout(middle, 1);
    layout->addWidget(stat1);

    setTabOrder(pnlTop, lvSvr);
    setTabOrder(lvSvr, pnlRight);

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
    WebBrowser1->setGeometry(24, 11, 468, 60);
    btnConnect = button(pnlTop, "btnConnect", 24, 85, 75, 25);
    btnAdd = button(pnlTop, "btnAdd", 144, 85, 75, 25);
    btnOpen = button(pnlTop, "btnOpen", 225, 85, 75, 25);
    btnDelete = button(pnlTop, "btnDelete", 306, 85, 75, 25);
    sBitBtn1 = new QWidget(pnlTop);
    sBitBtn1->setObjectName(QStringLiteral("sBitBtn1"));
    sBitBtn1->setGeometry(494, 85, 131, 25);
    bindButton(btnConnect, actConnect);
    bindButton(btnAdd, actAdd);
    bindButton(btnOpen, actOpen);
    bindButton(btnDelete, actDelete);
    setTabOrder(btnConnect, btnOpen);
    setTabOrder(btnOpen, btnAdd);
    setTabOrder(btnAdd, btnDelete);
}

void TfrmMgmt::buildRight()
{
    pnlRight = new QWidget(this);
    pnlRight->setObjectName(QStringLiteral("pnlRight"));
    pnlRight->setFixedWidth(145);
    btnNewGrp = button(pnlRight, "btnNewGrp", 22, 30, 91, 25);
    btnNewGrp->setText(QStringLiteral("新建组(&N)"));
    btnSetGrp = button(pnlRight, "btnSetGrp", 22, 69, 91, 25);
    btnSetGrp->setText(QStringLiteral("设置组(&G)"));
    cbbGrp = new QComboBox(pnlRight);
    cbbGrp->setObjectName(QStringLiteral("cbbGrp"));
    cbbGrp->setGeometry(6, 117, 131, cbbGrp->sizeHint().height());
    btnEditGrp = button(pnlRight, "btnEditGrp", 22, 160, 91, 25);
    btnEditGrp->setText(QStringLiteral("重命名组(&R)"));
    btnDeleteGrp = button(pnlRight, "btnDeleteGrp", 22, 199, 91, 25);
    bindButton(btnDeleteGrp, actDelGrp);
    connect(btnNewGrp, &QPushButton::clicked, this, [this] { Guard([&] { btnNewGrpClick(); }); });
    connect(btnSetGrp, &QPushButton::clicked, this, [this] { Guard([&] { btnSetGrpClick(); }); });
    connect(btnEditGrp, &QPushButton::clicked, this, [this] { Guard([&] { btnEditGrpClick(); }); });
    setTabOrder(btnNewGrp, btnSetGrp);
    setTabOrder(btnSetGrp, cbbGrp);
    setTabOrder(cbbGrp, btnEditGrp);
    setTabOrder(btnEditGrp, btnDeleteGrp);
}

void TfrmMgmt::buildList()
{
    lvSvr = new TServerListView(this, this);
    lvSvr->setObjectName(QStringLiteral("lvSvr"));
    connect(lvSvr, &QTreeWidget::itemSelectionChanged, this, [this] {
        Guard([&] {
            if (TListItem *row = lvSvr->Selected())
                lvSvrSelectItem(row, true);
            UpdateActions();
        });
    });
    connect(lvSvr, &QTreeWidget::itemDoubleClicked, this, [this] { Guard([&] { lvSvrDblClick(); }); });

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
    const QRect place = slot->geometry();
    QWidget *old = slot;
    widget->setParent(pnlTop);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(place);
    widget->show();
    slot = widget;
    old->deleteLater();
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
}

void TfrmMgmt::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (fShown)
        return;
    fShown = true;
    Guard([&] { FormShow(); });
}

void TfrmMgmt::FormShow()
{
    LoadGroups();
    LoadServers();
    RefreshSvrList();
    tellLoadProblems();
}

void TfrmMgmt::tellLoadProblems()
{
    if (const QString warning = TakeLoadWarning(); !warning.isEmpty())
        ShowMessageBox(this, warning, QMessageBox::Warning);
    static bool probeNoticeShown = false;
    if (const QString notice = PingEngine::shared()->notice(); !notice.isEmpty() && !probeNoticeShown) {
        probeNoticeShown = true;
        ShowMessageBox(this, notice, QMessageBox::Information);
    }
}

void TfrmMgmt::FormDestroy()
{
    ClearServerRows(lvSvr);
    FPing.reset();
    FOpenClients.clear();
}

bool TfrmMgmt::FormCloseQuery()
{
    if (FOpenClients.isEmpty())
        return true;
    return ShowMessageBox(this, QStringLiteral("已有打开的窗口,确定退出?"), QMessageBox::Question,
                          QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
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
    ClearServerRows(lvSvr);
    FillServerRows(lvSvr, GetSvrList());
    lvSvr->setUpdatesEnabled(true);
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

void TfrmMgmt::lvSvrSelectItem(TListItem *item, bool selected)
{
    if (!selected || !item)
        return;
    if (TItem *server = ItemOf(item)) {
        cbbGrp->setCurrentIndex(cbbGrp->findText(server->Server()->Group.GroupName, Qt::MatchFixedString));
        if (item->SubItemCount() > 1)
            stat1Panel0->setText(item->text(ColStatus));
    } else if (TGroupItem *group = GroupOf(item)) {
        cbbGrp->setCurrentIndex(cbbGrp->findText(group->Caption(), Qt::MatchFixedString));
        stat1Panel0->clear();
    }
}

void TfrmMgmt::lvSvrDblClick()
{
    TListItem *row = lvSvr->Selected();
    if (TGroupItem *group = GroupOf(row)) {
        if (group->Expanded())
            group->Collapse();
        else
            group->Expand();
    } else if (ItemOf(row)) {
        actOpenExecute();
    }
}

void TfrmMgmt::lvSvrAdvancedCustomDrawItem(TListItem *row, TRowPaint &paint)
{
    if (row->ImageIndex() >= 0) {
        paint.font.setBold(true);
        return;
    }
    const bool offline = row->SubItemCount() > 1 && row->text(ColStatus) == TPingThread::Offline;
    paint.background = offline ? kOfflineGrey : palette().color(QPalette::Base);
}

void TfrmMgmt::lvSvrAdvancedCustomDrawSubItem(TListItem *row, int subItem, TRowPaint &paint)
{
    if (!ItemOf(row) || subItem != ColStatus - 1)
        return;
    const QString status = row->text(ColStatus);
    if (status == TPingThread::Offline) {
        paint.text = kOfflineRed;
        paint.background = kOfflineGrey;
    } else if (status == TPingThread::Online) {
        paint.text = kOnlineGreen;
        paint.background = palette().color(QPalette::Base);
    }
}

std::unique_ptr<TDragItem> TfrmMgmt::lvSvrStartDrag()
{
    TListItem *row = lvSvr->Selected();
    TItem *item = ItemOf(row);
    if (!item)
        return nullptr;
    return std::make_unique<TDragItem>(item, IndexOfRow(lvSvr, row));
}

bool TfrmMgmt::lvSvrDragOver(TDragItem *source, const QPoint &at)
{
    if (!source || !source->Data())
        return false;
    TListItem *row = lvSvr->RowAtPoint(at);
    const int draggedGroup = source->Data()->Grp()->GrpId();
    if (TGroupItem *group = GroupOf(row))
        return group->GrpId() != draggedGroup;
    if (TItem *item = ItemOf(row))
        return item->Grp()->GrpId() != draggedGroup;
    return false;
}

void TfrmMgmt::lvSvrDragDrop(TDragItem *source, const QPoint &at)
{
    TListItem *row = lvSvr->RowAtPoint(at);
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
