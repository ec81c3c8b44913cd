#include "ServerExport.h"

#include "AppError.h"
#include "RdpFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

namespace {

QString safeFileName(QString name)
{
    for (QChar &c : name)
        if (c.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>|").contains(c))
            c = u'_';
    name = name.trimmed();
    // Windows refuses names ending in a dot or a blank, and a leading dot hides a file here.
    while (name.endsWith(u'.') || name.endsWith(u' '))
        name.chop(1);
    while (name.startsWith(u'.'))
        name.remove(0, 1);
    return name.left(120);
}

QString freeName(const QString &fileName, QSet<QString> &taken)
{
    const QString base = QFileInfo(fileName).completeBaseName();
    QString name = fileName;
    for (int n = 2; taken.contains(name.toCaseFolded()); ++n)
        name = QStringLiteral("%1 (%2).rdp").arg(base).arg(n);
    taken.insert(name.toCaseFolded());
    return name;
}

} // namespace

QString RdpFileNameFor(const TSvrItem &server)
{
    QString name = safeFileName(server.Description);
    if (name.isEmpty())
        name = safeFileName(server.ClntSett.Server);
    if (name.isEmpty())
        name = QStringLiteral("server");
    return name + QStringLiteral(".rdp");
}

void ExportServer(const TSvrItem &server, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(WriteRdpFile(server.ClntSett)) < 0 || !file.commit())
        throw AppError(QStringLiteral("无法写入文件“%1”：%2").arg(QDir::toNativeSeparators(path), file.errorString()));
}

QStringList ExportServers(const std::vector<PSvrItem> &servers, const QString &folder)
{
    const QDir dir(folder);
    // Names are kept apart regardless of case, as they would have to be on Windows.
    QSet<QString> taken;
    for (const QString &name : dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System))
        taken.insert(name.toCaseFolded());
    QStringList written;
    for (const PSvrItem server : servers) {
        const QString path = dir.filePath(freeName(RdpFileNameFor(*server), taken));
        ExportServer(*server, path);
        written << path;
    }
    return written;
}
