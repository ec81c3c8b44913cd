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
class IniFile {
public:
    explicit IniFile(QString fileName);

    const QString &fileName() const { return fileName_; }

    // The file as it stands; a missing or unreadable file reads as an empty one.
    const IniDocument &current();

    // Runs `change` on the file as it stands and writes the result. Throws AppError
    // "Unable to write to <path>" when the file cannot be written; the file is then
    // unchanged. Nothing is written when `change` changes nothing.
    void update(const std::function<void(IniDocument &)> &change);

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
    bool refresh();
    void removeLeftovers() const;
    void writeAtomically(const QByteArray &bytes, int dirFd);
    [[noreturn]] void failWrite() const;

    QString fileName_;
    IniDocument document_;
    Stamp stamp_;
    bool loaded_ = false;
};
