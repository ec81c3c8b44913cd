#pragma once

#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QWidget;

// Copying a whole catalogue between a server list file and the shared database
// the manager shows: the file into the database, or the database into a new file.
// The copy runs off the window's thread; the window keeps painting meanwhile and
// says what was copied when it is done.
class TDatabaseTransfer : public QObject {
    Q_OBJECT
public:
    // Adds its commands to the list's menu; its dialogs belong to `window`, which owns it.
    TDatabaseTransfer(QMenu *menu, QWidget *window);

    QAction *actDbImport;
    QAction *actDbExport;

    // Copies as the command line's --import (importing) or --export does and
    // returns the same summary; throws AppError with the reason.
    static QString Copy(bool importing, const QString &file, const QString &database);

    void actDbImportExecute();
    void actDbExportExecute();

private:
    void UpdateActions();
    void run(bool importing, const QString &file);

    QWidget *window_;
};
