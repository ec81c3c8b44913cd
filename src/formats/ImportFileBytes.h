#pragma once

#include <QByteArray>
#include <QString>

// The largest file that import reads.
inline constexpr qint64 MaxImportFileSize = 64 * 1024 * 1024;

// The bytes of a file offered for import. Only a regular file is read: the file
// is opened without waiting (a named pipe or a device would block or never end),
// its kind and size are checked on the open descriptor, and no more than the
// limit and one byte are read, so that a file growing meanwhile is refused too.
// Throws an AppError naming the file and the reason.
QByteArray ReadImportBytes(const QString &path, qint64 maxSize = MaxImportFileSize);
