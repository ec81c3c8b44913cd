#include "ServerFind.h"

#include "AppError.h"
#include "HostPort.h"
#include "QuickConnectForm.h"
#include "ServerFilterModel.h"
#include "ServerListModel.h"
#include "ServerListView.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

TServerFind::TServerFind(TServerListView *list, ServerFilterModel *filter, QWidget *parent)
    : QWidget(parent), list_(list), filter_(filter)
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

    auto *find = new QShortcut(QKeySequence::Find, parent, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(find, &QShortcut::activated, this, [this] { Guard([&] { FocusFind(); }); });
    connect(edtFind, &QLineEdit::returnPressed, this, [this] { Guard([&] { edtFindEnter(); }); });
    edtFind->installEventFilter(this);
    connect(edtFind, &QLineEdit::textChanged, this, [this] { Guard([&] { edtFindChange(); }); });
    connect(btnQuickConnect, &QPushButton::clicked, this, [this] { Guard([&] { btnQuickConnectClick(); }); });
    connect(filter_, &ServerFilterModel::refiltered, this, [this] { Guard([&] { showQuickConnect(); }); });
}

bool TServerFind::eventFilter(QObject *watched, QEvent *event)
{
    // The servers' texts are folded while the user starts to type, not at the first key.
    if (watched == edtFind && event->type() == QEvent::FocusIn)
        filter_->Prepare();
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

bool TServerFind::Active() const
{
    return filter_->Active();
}

void TServerFind::FocusFind()
{
    edtFind->setFocus(Qt::ShortcutFocusReason);
    edtFind->selectAll();
}

void TServerFind::edtFindChange()
{
    list_->setUpdatesEnabled(false);
    filter_->SetFindText(edtFind->text());
    list_->setUpdatesEnabled(true);
}

// An address that no server matches can be connected to at once.
void TServerFind::showQuickConnect()
{
    const QString typed = filter_->FindText();
    const auto address = filter_->Active() && filter_->MatchCount() == 0 ? ParseHostPort(typed) : std::nullopt;
    btnQuickConnect->setVisible(address.has_value());
    if (address)
        btnQuickConnect->setText(QStringLiteral("快速连接 %1 … (Enter)").arg(typed.trimmed()));
}

TRowObject *TServerFind::FirstMatch() const
{
    for (int i = 0; i < filter_->rowCount(); ++i)
        if (TRowObject *row = list_->ObjectAt(filter_->index(i, ColServer)); ItemOf(row))
            return row;
    return nullptr;
}

// When the only matches are in collapsed groups, the first such group opens.
TRowObject *TServerFind::expandFirstCollapsedMatch()
{
    for (int i = 0; i < filter_->rowCount(); ++i) {
        TGroupItem *group = GroupOf(list_->ObjectAt(filter_->index(i, ColServer)));
        if (group && !group->Expanded()) {
            group->Expand();
            filter_->SetFindText(edtFind->text());
            return FirstMatch();
        }
    }
    return nullptr;
}

void TServerFind::selectRow(TRowObject *row)
{
    list_->SelectRow(row);
}

void TServerFind::edtFindEnter()
{
    if (!Active())
        return;
    TRowObject *row = FirstMatch();
    if (!row)
        row = expandFirstCollapsedMatch();
    if (row) {
        selectRow(row);
        emit connectRequested();
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
    TRowObject *row = FirstMatch();
    if (!row && Active())
        row = expandFirstCollapsedMatch();
    if (row)
        selectRow(row);
    list_->setFocus(Qt::TabFocusReason);
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
    if (!AskQuickConnect(parentWidget(), settings, add))
        return;
    if (add)
        AddServerRow(list_->List(), AddSvrItem(settings, UngroupedId, QString()));
    emit quickConnectRequested(settings);
}
