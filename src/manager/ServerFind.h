#pragma once

#include "ServerFilter.h"

#include <QSet>
#include <QTimer>
#include <QWidget>

class QLineEdit;
class QPushButton;
class TfrmMgmt;
class TListItem;

// The find box above the server list. Typing filters the list: server rows that
// do not match hide, and so do group rows without a matching server. Ctrl+F puts
// the cursor into the box, Esc empties it, Enter connects to the first match, Down
// goes to it in the list. An address that matches no server is offered as a row of
// its own, "快速连接 …", which asks for a user and password and opens a session
// with the default settings, storing nothing unless the user asks for it.
class TServerFind : public QWidget {
    Q_OBJECT
public:
    explicit TServerFind(TfrmMgmt *form);

    QLineEdit *edtFind;
    QPushButton *btnQuickConnect;

    // Whether a text is being looked for.
    bool Active() const { return fActive; }
    // The first shown server row, or none.
    TListItem *FirstMatch() const;

    void FocusFind();
    void edtFindChange();
    void edtFindEnter();
    void edtFindEscape();
    void edtFindDown();
    void btnQuickConnectClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void applyFilter();
    void scheduleFilter();
    void setRowHidden(int index, bool hidden);
    TListItem *expandFirstCollapsedMatch();
    void selectRow(TListItem *row);

    TfrmMgmt *fForm;
    TServerFilter fFilter;
    QSet<const TSvrItem *> fMatches;
    bool fActive = false;
    QTimer fRefilter; // the list changed under an active filter
};
