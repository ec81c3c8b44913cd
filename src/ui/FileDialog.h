#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

// The program's file dialogs. A test answers them ahead: while answers wait, each
// dialog asked for takes the next one, in the order given, and does not open.
class FileDialog {
public:
    enum class Kind { OpenFile,
                      OpenFiles,
                      SaveFile,
                      Folder };
    // What a dialog was asked for: `start` is the folder or the file name it offers.
    struct Request {
        Kind kind = Kind::OpenFile;
        QString caption;
        QString start;
        QString filter;
    };

    static QString GetOpenFileName(QWidget *parent, const QString &caption, const QString &start = {},
                                   const QString &filter = {});
    static QStringList GetOpenFileNames(QWidget *parent, const QString &caption, const QString &start = {},
                                        const QString &filter = {});
    static QString GetSaveFileName(QWidget *parent, const QString &caption, const QString &start = {},
                                   const QString &filter = {});
    static QString GetExistingDirectory(QWidget *parent, const QString &caption, const QString &start = {});

    // The next dialog answers with these names without opening; none means it
    // was cancelled. A dialog for one name takes the first.
    static void SetNextFileNames(const QStringList &names);
    static void SetNextFileName(const QString &name);
    // The dialogs answered ahead since the last call, in order; the answers not
    // taken yet stay.
    static QList<Request> TakeAnsweredRequests();
    // How many answers wait.
    static int PendingAnswers();
    // Drops the answers not taken and the requests kept.
    static void ClearAnswers();
};
