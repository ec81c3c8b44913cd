#pragma once

#include "IniDocument.h"

#include <QString>
#include <functional>
#include <sys/types.h>

// The server list file on disk. Reading gives the file as it is now; each change
// is applied to a fresh reading of the file under an exclusive lock and reaches
// the disk as one atomic replacement (temporary file, flushed, renamed over the
// old one), so the file is always either wholly before or wholly after a change,
// and changes made meanwhile by another running copy of the program are kept.
// A symbolic link is written through to the file it names; the file keeps its
// owner, group and mode.
//
// A file for its owner's eyes only (ownerOnly) is always written readable and
// writable by its owner alone, whatever mode a file in its place had, and a
// symbolic link in its place is neither read nor written through: it reads as no
// file, and a write replaces the link itself.
class IniFile {
public:
    explicit IniFile(QString fileName, bool ownerOnly = false);

    const QString &fileName() const { return fileName_; }

    // The file as it stands; a missing file reads as an empty one. Throws AppError
    // when the file cannot be read or is no regular file (a folder, pipe or device).
    const IniDocument &current();

    // Runs `change` on the file as it stands and writes the result. Throws AppError
    // "Unable to write to <path>", followed by the cause on a line of its own, when
    // the file cannot be written; the file is then unchanged. Nothing is written
    // when `change` changes nothing.
    void update(const std::function<void(IniDocument &)> &change);

    // Called with the temporary file written and flushed, just before it replaces
    // the file; for tests that look at the process as it writes.
    static void SetBeforeReplace(std::function<void()> hook);

private:
    struct Stamp {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        long long modifiedNs = 0;
        long long changedNs = 0;
        bool operator==(const Stamp &) const = default;
    };

    Stamp stampOfFile() const;
    void refresh();
    void removeLeftovers(const QString &target) const;
    void writeAtomically(const std::vector<QByteArrayView> &bytes, int dirFd, const QString &target);

    QString fileName_;
    bool ownerOnly_ = false;
    IniDocument document_;
    Stamp stamp_;
    bool loaded_ = false;
};
