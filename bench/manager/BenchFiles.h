#pragma once

#include "RdpCommon.h"

#include <QDir>
#include <QFile>

// Writes a file for a benchmark; a benchmark that cannot write its files stops.
inline void WriteBenchFile(const QString &path, const QByteArray &bytes)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// Puts the catalogue's bytes into "SvrList.ini" in the folder and uses that file.
inline void UseBenchCatalogue(const QString &folder, const QByteArray &catalogue)
{
    const QString file = QDir(folder).filePath(QStringLiteral("SvrList.ini"));
    WriteBenchFile(file, catalogue);
    UseIniFile(file);
}
