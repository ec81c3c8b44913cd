#pragma once

#include "BackgroundTask.h"
#include "RdpCommon.h"
#include "ServerImport.h"

#include <QObject>
#include <QStringList>
#include <vector>

class QAction;
class QMenu;
class QWidget;
class TRowObject;
class TServerListView;

// Import and export in the manager: the commands in the list's menu, and files
// dropped on the list. Imported servers go into a group the user chooses (the
// group of the row they were dropped on is offered first); a summary says what
// came in and what did not, and why.
class TServerTransfer : public QObject {
    Q_OBJECT
public:
    // Adds its commands to the list's menu and takes the files dropped on the list;
    // its commands' keys work inside `window`, which owns it and its dialogs.
    TServerTransfer(TServerListView *list, QMenu *menu, QWidget *window);

    QAction *actImport;
    QAction *actExport;
    QAction *actExportGrp;

    void actImportExecute();
    void actExportExecute();
    void actExportGrpExecute();
    void UpdateActions();

    // Reads the files, asks for the group (offering `group` first) and adds their
    // servers; then tells what came in. The files are read, and sealed passwords
    // opened, on a thread of their own while the window goes on; a progress
    // window shows for a long batch. A call while one runs is refused.
    void ImportFiles(const QStringList &paths, const QString &group);
    bool IsImporting() const { return busy_; }
    // The group chosen in the window, offered for servers dropped where no row is;
    // empty when none is chosen.
    void SetChosenGroup(const QString &name) { chosenGroup_ = name; }

signals:
    // Files to import into a group: dropped on the list, or chosen by the command.
    // Taken once the gesture is over.
    void importRequested(const QStringList &paths, const QString &group);
    // The catalogue took so many servers, or new groups, that the window is best
    // shown afresh.
    void refreshRequested();
    // A group was made for the servers coming in.
    void groupsChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QAction *makeAction(const char *name, const QString &caption, const QKeySequence &shortcut,
                        void (TServerTransfer::*execute)());
    QString groupOfRow(TRowObject *row) const;
    int groupIdFor(const QString &name);
    void showAdded(const std::vector<PSvrItem> &added, bool groupsMade);
    // Runs the work off the GUI thread and waits for it with the events going on;
    // false when the user cancelled it.
    bool runInBackground(const QString &label, TBackgroundTask::Work work);
    bool askTarget(TImportBatch &batch, int fileCount, const QString &group, TImportTarget &target);

    TServerListView *list_;
    QWidget *window_;
    QString chosenGroup_;
    bool busy_ = false;
};
