#include "ServerImport.h"

#include "AppError.h"
#include "ConfConsFile.h"
#include "RdgFile.h"
#include "RdpFile.h"
#include "RemminaFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;
constexpr int kMaxListed = 20;

using Reader = TImportResult (*)(const QByteArray &, const QString &);

Reader readerByExtension(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("rdp"))
        return ReadRdpFile;
    if (suffix == QLatin1String("remmina"))
        return ReadRemminaFile;
    if (suffix == QLatin1String("rdg"))
        return ReadRdgFile;
    return nullptr;
}

Reader readerByContent(const QByteArray &bytes, const QString &path)
{
    const QString text = DecodeImportText(bytes.left(4096), path).toLower();
    if (text.contains(QLatin1String("<rdcman")))
        return ReadRdgFile;
    if (text.contains(QLatin1String("connections")) && text.contains(QLatin1String("<")))
        return ReadConfConsFile;
    if (text.contains(QLatin1String("[remmina]")))
        return ReadRemminaFile;
    if (text.contains(QLatin1String("full address:")))
        return ReadRdpFile;
    return nullptr;
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        ThrowUnreadable(path, file.errorString());
    if (file.size() > kMaxFileSize)
        ThrowUnreadable(path, QStringLiteral("文件太大（超过 64 MB）"));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        ThrowUnreadable(path, file.errorString());
    return bytes;
}

QString keyOf(const TClientSettings &s)
{
    return s.Server.trimmed().toCaseFolded() + u'\n' + QString::number(s.Port) + u'\n' + s.User.trimmed().toCaseFolded();
}

void appendList(QStringList &lines, const QString &heading, const std::vector<TImportNote> &notes)
{
    if (notes.empty())
        return;
    lines << heading.arg(notes.size());
    for (size_t i = 0; i < notes.size() && i < size_t(kMaxListed); ++i)
        lines << (notes[i].Entry.isEmpty() ? QStringLiteral("    ") + notes[i].Text
                                           : QStringLiteral("    %1：%2").arg(notes[i].Entry, notes[i].Text));
    if (notes.size() > size_t(kMaxListed))
        lines << QStringLiteral("    ……另有 %1 项").arg(notes.size() - kMaxListed);
}

} // namespace

int TImportBatch::RecordCount() const
{
    int count = 0;
    for (const TImportResult &r : Results)
        count += int(r.Records.size());
    return count;
}

QString ImportFileFilter()
{
    return QStringLiteral("连接文件 (*.rdp *.remmina *.rdg *.xml);;所有文件 (*)");
}

TImportResult ReadImportFile(const QString &path)
{
    const QByteArray bytes = readBytes(path);
    Reader reader = readerByExtension(path);
    if (!reader)
        reader = readerByContent(bytes, path);
    if (!reader)
        ThrowUnreadable(path, QStringLiteral("不认识的文件格式；可导入 .rdp、.remmina、.rdg 和 mRemoteNG 的 confCons.xml"));
    TImportResult result = reader(bytes, path);
    result.Source = QFileInfo(path).fileName();
    return result;
}

TImportBatch ReadImportFiles(const QStringList &paths, const TSvrList &catalogue)
{
    TImportBatch batch;
    QSet<QString> known;
    for (const auto &server : catalogue)
        known.insert(keyOf(server->ClntSett));
    for (const QString &path : paths) {
        TImportResult result;
        try {
            result = ReadImportFile(path);
        } catch (const AppError &error) {
            batch.Unreadable.push_back({QString(), error.message()});
            continue;
        }
        std::vector<TImportRecord> fresh;
        for (TImportRecord &record : result.Records) {
            const QString key = keyOf(record.Settings);
            if (known.contains(key)) {
                const QString name = record.Description.isEmpty() ? record.Settings.Server : record.Description;
                batch.Duplicates.push_back({name, QStringLiteral("已有同一地址、端口和用户的服务器")});
                continue;
            }
            known.insert(key);
            fresh.push_back(std::move(record));
        }
        result.Records = std::move(fresh);
        batch.Results.push_back(std::move(result));
    }
    return batch;
}

std::vector<PSvrItem> AddImportedServers(const TImportBatch &batch, int groupId)
{
    std::vector<TSvrItem> servers;
    servers.reserve(size_t(batch.RecordCount()));
    for (const TImportResult &result : batch.Results)
        for (const TImportRecord &record : result.Records) {
            TSvrItem &server = servers.emplace_back();
            server.ClntSett = record.Settings;
            server.Description = record.Description;
        }
    return AddSvrItems(servers, groupId);
}

QString ImportSummary(const TImportBatch &batch, int added, const QString &groupName)
{
    QStringList lines;
    lines << QStringLiteral("已导入 %1 台服务器到组“%2”。").arg(added).arg(groupName);
    std::vector<TImportNote> skipped = batch.Duplicates;
    std::vector<TImportNote> notes;
    for (const TImportResult &result : batch.Results) {
        skipped.insert(skipped.end(), result.Skipped.begin(), result.Skipped.end());
        notes.insert(notes.end(), result.Notes.begin(), result.Notes.end());
    }
    appendList(lines, QStringLiteral("未导入 %1 项："), skipped);
    appendList(lines, QStringLiteral("已导入，但有 %1 处未能带过来："), notes);
    appendList(lines, QStringLiteral("无法读取 %1 个文件，其中的服务器都未导入："), batch.Unreadable);
    return lines.join(u'\n');
}
