#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

// The bytes of a file this program creates with the given text: UTF-16 LE after a byte-order mark.
inline QByteArray NewFileBytes(const QString &text)
{
    QByteArray bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    return bytes;
}

// A folder of its own for one test's server list file.
class TempCatalogue {
public:
    TempCatalogue() : path_(dir_.filePath(QStringLiteral("SvrList.ini"))) {}

    const QString &path() const { return path_; }
    QString folder() const { return dir_.path(); }

    void write(const QByteArray &bytes) const
    {
        QFile file(path_);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path_));
    }

    QByteArray read() const
    {
        QFile file(path_);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static QByteArray dataFile(const QString &name)
    {
        QFile file(QStringLiteral(BRENNIC_TEST_DATA "/") + name);
        if (!file.open(QIODevice::ReadOnly))
            qFatal("missing test data %s", qPrintable(name));
        return file.readAll();
    }

private:
    QTemporaryDir dir_;
    QString path_;
};
