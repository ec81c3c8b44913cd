#pragma once

#include "ServerFilter.h"

#include <QWidget>

class QLineEdit;
class QPushButton;
class ServerFilterModel;
class TRowObject;
class TServerListView;

// The find box above the server list. Typing filters the list: server rows that
// do not match hide, and so do group rows without a matching server. Ctrl+F puts
// the cursor into the box, Esc empties it, Enter connects to the first match, Down
// goes to it in the list. An address that matches no server is offered as a row of
// its own, "快速连接 …", which asks for a user and password and opens a session
// with the default settings, storing nothing unless the user asks for it.
class TServerFind : public QWidget {
    Q_OBJECT
public:
    // Ctrl+F works anywhere inside `parent`.
    TServerFind(TServerListView *list, ServerFilterModel *filter, QWidget *parent);

    QLineEdit *edtFind;
    QPushButton *btnQuickConnect;

    // Whether a text is being looked for.
    bool Active() const;
    // The first shown server row, or none.
    TRowObject *FirstMatch() const;

    void FocusFind();
    void edtFindChange();
    void edtFindEnter();
    void edtFindEscape();
    void edtFindDown();
    void btnQuickConnectClick();

signals:
    // Enter on a match: its row is selected; connect to it.
    void connectRequested();
    // Quick connect to an address no server matched: open a session with these settings.
    void quickConnectRequested(const TClientSettings &settings);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showQuickConnect();
    TRowObject *expandFirstCollapsedMatch();
    void selectRow(TRowObject *row);

    TServerListView *list_;
    ServerFilterModel *filter_;
};
