#pragma once

#include "ImportRecord.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

// Reading other programs' connection files and adding their servers to the
// catalogue: ".rdp", ".remmina", ".rdg" and mRemoteNG's "confCons.xml".
// Reading touches no catalogue and may run on any thread; what compares with
// or changes the catalogue runs where the catalogue lives.

// What a set of files gave: the results of the files that could be read, and
// for each that could not, why (nothing of such a file is imported).
struct TImportBatch {
    std::vector<TImportResult> Results;
    std::vector<TImportNote> Unreadable; // the message that names the file and the reason
    std::vector<TImportNote> Duplicates; // servers left out as the catalogue or the batch has them already

    int RecordCount() const;
    // Records whose password is sealed with a master password not yet given.
    int SealedCount() const;
    // Whether any record lies in a group of its file.
    bool HasFileGroups() const;
};

// Told after each step (a file read, a password opened); answers false to stop.
using TImportProgress = std::function<bool(int done, int total)>;

// The file dialog's filter for the files that can be imported.
QString ImportFileFilter();

// Reads one file, choosing the reader by the file's extension and, where that
// does not tell, by its content. Throws an AppError when it cannot be read.
TImportResult ReadImportFile(const QString &path);
// Reads every file; a file that cannot be read is noted and the others are kept.
// Stops, with what was read so far, when `progress` answers false.
TImportBatch ReadImportFiles(const QStringList &paths, const TImportProgress &progress = {});
// Leaves out, with a note, the servers that the catalogue (or an earlier record
// of the batch) has already, with the same address, port and user.
void DropKnownServers(TImportBatch &batch, const TSvrList &catalogue);
// Opens the sealed passwords of the batch with the master password given; those
// it opens are sealed no more. Returns how many it opened (none: another master
// password sealed them).
int OpenSealedPasswords(TImportBatch &batch, const QString &master, const TImportProgress &progress = {});

// Where the servers of a batch go: into the groups of their files (a group of
// that name is made where the catalogue has none, its name compared regardless
// of letter case), and those of no group, or all when the files' groups are not
// kept, into the group with the id given.
struct TImportTarget {
    int GroupId = UngroupedId;
    bool KeepFileGroups = true;
};

// Adds the servers of the batch to the catalogue, written as any added server
// is, in one write of the file: the servers come in whole or not at all (groups
// that were made for them stay).
std::vector<PSvrItem> AddImportedServers(const TImportBatch &batch, const TImportTarget &target);

// The message for the user: how many came in and into which groups, and each
// entry skipped or imported without something, with the reason (long lists are
// shortened).
QString ImportSummary(const TImportBatch &batch, const std::vector<PSvrItem> &added);
