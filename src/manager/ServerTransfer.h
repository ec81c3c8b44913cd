#pragma once

#include "BackgroundTask.h"
#include "RdpCommon.h"
#include "ServerImport.h"

#include <QObject>
#include <QStringList>
#include <vector>

class QAction;
class TfrmMgmt;
class TRowObject;

// Import and export in the manager: the commands in the list's menu, and files
// dropped on the list. Imported servers go into a group the user chooses (the
// group of the row they were dropped on is offered first); a summary says what
// came in and what did not, and why.
class TServerTransfer : public QObject {
    Q_OBJECT
public:
    explicit TServerTransfer(TfrmMgmt *form);

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
    bool IsImporting() const { return fBusy; }

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

    TfrmMgmt *fForm;
    bool fBusy = false;
};
