#pragma once

#include "ImportRecord.h"

#include <QString>
#include <QStringList>
#include <vector>

// Reading other programs' connection files and adding their servers to the
// catalogue: ".rdp", ".remmina", ".rdg" and mRemoteNG's "confCons.xml".

// What a set of files gave: the results of the files that could be read, and
// for each that could not, why (nothing of such a file is imported).
struct TImportBatch {
    std::vector<TImportResult> Results;
    std::vector<TImportNote> Unreadable; // the message that names the file and the reason
    std::vector<TImportNote> Duplicates; // servers left out as the catalogue or the batch has them already

    int RecordCount() const;
};

// The file dialog's filter for the files that can be imported.
QString ImportFileFilter();

// Reads one file, choosing the reader by the file's extension and, where that
// does not tell, by its content. Throws an AppError when it cannot be read.
TImportResult ReadImportFile(const QString &path);
// Reads every file; a file that cannot be read is noted and the others are kept.
// Servers that the catalogue (or an earlier file of the set) has already, with
// the same address, port and user, are noted and left out.
TImportBatch ReadImportFiles(const QStringList &paths, const TSvrList &catalogue);

// Adds the servers of the batch to the catalogue, in the group with that id,
// written as any added server is, in one write of the file: a batch comes in
// whole or not at all.
std::vector<PSvrItem> AddImportedServers(const TImportBatch &batch, int groupId);

// The message for the user: how many came in, and each entry skipped or
// imported without something, with the reason (long lists are shortened).
QString ImportSummary(const TImportBatch &batch, int added, const QString &groupName);
