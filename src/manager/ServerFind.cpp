#include "ServerFind.h"

#include "AppError.h"
#include "HostPort.h"
#include "MgmtForm.h"
#include "QuickConnectForm.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

TServerFind::TServerFind(TfrmMgmt *form) : QWidget(form), fForm(form)
{
    setObjectName(QStringLiteral("pnlFind"));
    edtFind = new QLineEdit(this);
    edtFind->setObjectName(QStringLiteral("edtFind"));
    edtFind->setPlaceholderText(QStringLiteral("查找服务器：地址、用户名、备注、组或拼音首字母 (Ctrl+F)"));
    edtFind->setClearButtonEnabled(true);
    btnQuickConnect = new QPushButton(this);
    btnQuickConnect->setObjectName(QStringLiteral("btnQuickConnect"));
    btnQuickConnect->setFlat(true);
    btnQuickConnect->setStyleSheet(QStringLiteral("text-align: left; padding: 2px 6px;"));
    btnQuickConnect->hide();

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 2);
    column->setSpacing(0);
    column->addWidget(edtFind);
    column->addWidget(btnQuickConnect);

    const auto key = [this](QWidget *on, const QKeySequence &sequence, Qt::ShortcutContext context,
                            void (TServerFind::*handler)()) {
        auto *shortcut = new QShortcut(sequence, on, nullptr, nullptr, context);
        connect(shortcut, &QShortcut::activated, this, [this, handler] { Guard([&] { (this->*handler)(); }); });
    };
    key(fForm, QKeySequence::Find, Qt::WidgetWithChildrenShortcut, &TServerFind::FocusFind);
    connect(edtFind, &QLineEdit::returnPressed, this, [this] { Guard([&] { edtFindEnter(); }); });
    edtFind->installEventFilter(this);
    connect(edtFind, &QLineEdit::textChanged, this, [this] { Guard([&] { edtFindChange(); }); });
    connect(btnQuickConnect, &QPushButton::clicked, this, [this] { Guard([&] { btnQuickConnectClick(); }); });

    // Rows that come, go or change while a filter is on are filtered too, once the
    // change is over.
    fRefilter.setSingleShot(true);
    fRefilter.setInterval(0);
    connect(&fRefilter, &QTimer::timeout, this, [this] { Guard([&] { applyFilter(); }); });
    QAbstractItemModel *model = fForm->lvSvr->model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &TServerFind::scheduleFilter);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &TServerFind::scheduleFilter);
    connect(model, &QAbstractItemModel::modelReset, this, &TServerFind::scheduleFilter);
    connect(model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex &from, const QModelIndex &to) {
        // A status that a poller writes changes nothing that is searched.
        if (from.column() != ColStatus || to.column() != ColStatus)
            scheduleFilter();
    });
}

bool TServerFind::eventFilter(QObject *watched, QEvent *event)
{
    // The servers' texts are folded while the user starts to type, not at the first key.
    if (watched == edtFind && event->type() == QEvent::FocusIn && SvrList)
        fFilter.Prepare(*SvrList);
    if (watched == edtFind && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() == Qt::NoModifier && key->key() == Qt::Key_Escape) {
            Guard([&] { edtFindEscape(); });
            return true;
        }
        if (key->modifiers() == Qt::NoModifier && key->key() == Qt::Key_Down) {
            Guard([&] { edtFindDown(); });
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TServerFind::FocusFind()
{
    edtFind->setFocus(Qt::ShortcutFocusReason);
    edtFind->selectAll();
}

void TServerFind::scheduleFilter()
{
    if (fActive)
        fRefilter.start();
}

void TServerFind::edtFindChange()
{
    applyFilter();
}

void TServerFind::setRowHidden(int index, bool hidden)
{
    TListView *list = fForm->lvSvr;
    if (list->isRowHidden(index, QModelIndex()) != hidden)
        list->setRowHidden(index, QModelIndex(), hidden);
}

void TServerFind::applyFilter()
{
    fRefilter.stop();
    const TFindQuery query(edtFind->text());
    fActive = !query.IsEmpty();
    fMatches.clear();
    if (fActive)
        for (PSvrItem server : fFilter.Match(GetSvrList(), query))
            fMatches.insert(server);

    TListView *list = fForm->lvSvr;
    list->setUpdatesEnabled(false);
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        TListItem *row = RowAt(list, i);
        if (TGroupItem *group = GroupOf(row)) {
            const auto &items = group->Items();
            const bool anyMatch = std::any_of(items.begin(), items.end(),
                                              [this](const auto &item) { return fMatches.contains(item->Server()); });
            setRowHidden(i, fActive && !anyMatch);
        } else if (TItem *item = ItemOf(row)) {
            setRowHidden(i, fActive && !fMatches.contains(item->Server()));
        }
    }
    list->setUpdatesEnabled(true);

    // An address that no server matches can be connected to at once.
    const auto address = fActive && fMatches.isEmpty() ? ParseHostPort(edtFind->text()) : std::nullopt;
    btnQuickConnect->setVisible(address.has_value());
    if (address)
        btnQuickConnect->setText(QStringLiteral("快速连接 %1 … (Enter)").arg(edtFind->text().trimmed()));
}

TListItem *TServerFind::FirstMatch() const
{
    TListView *list = fForm->lvSvr;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (TListItem *row = RowAt(list, i); ItemOf(row) && !list->isRowHidden(i, QModelIndex()))
            return row;
    return nullptr;
}

// When the only matches are in collapsed groups, the first such group opens.
TListItem *TServerFind::expandFirstCollapsedMatch()
{
    TListView *list = fForm->lvSvr;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        TGroupItem *group = GroupOf(RowAt(list, i));
        if (group && !group->Expanded() && !list->isRowHidden(i, QModelIndex())) {
            group->Expand();
            applyFilter();
            return FirstMatch();
        }
    }
    return nullptr;
}

void TServerFind::selectRow(TListItem *row)
{
    TListView *list = fForm->lvSvr;
    list->clearSelection();
    list->setCurrentItem(row);
    row->setSelected(true);
    list->scrollToItem(row);
}

void TServerFind::edtFindEnter()
{
    if (!fActive)
        return;
    TListItem *row = FirstMatch();
    if (!row)
        row = expandFirstCollapsedMatch();
    if (row) {
        selectRow(row);
        fForm->actConnectExecute();
    } else if (btnQuickConnect->isVisible()) {
        btnQuickConnectClick();
    }
}

void TServerFind::edtFindEscape()
{
    edtFind->clear();
}

void TServerFind::edtFindDown()
{
    TListItem *row = FirstMatch();
    if (!row && fActive)
        row = expandFirstCollapsedMatch();
    if (row)
        selectRow(row);
    fForm->lvSvr->setFocus(Qt::TabFocusReason);
}

void TServerFind::btnQuickConnectClick()
{
    const auto address = ParseHostPort(edtFind->text());
    if (!address)
        return;
    TClientSettings settings;
    settings.Server = address->Host;
    if (address->Port)
        settings.Port = address->Port;
    bool add = false;
    if (!AskQuickConnect(fForm, settings, add))
        return;
    if (add)
        AddServerRow(fForm->lvSvr, AddSvrItem(settings, UngroupedId, QString()));
    fForm->OpenSession(settings);
}
