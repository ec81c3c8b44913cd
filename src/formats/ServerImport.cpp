#include "ServerImport.h"

#include "AppError.h"
#include "ConfConsFile.h"
#include "ImportFileBytes.h"
#include "MRemotePasswords.h"
#include "RdgFile.h"
#include "RdpFile.h"
#include "RemminaFile.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStringDecoder>

namespace {

constexpr int kMaxListed = 20;
constexpr int kMaxGroupsNamed = 10;

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

// The start of the file as text, to tell its kind; a character cut at the end of
// the sample, or a damaged one, does not matter here (the reader decodes strictly).
QString sampleText(const QByteArray &bytes)
{
    const QByteArrayView head = QByteArrayView(bytes).first(std::min<qsizetype>(bytes.size(), 4096));
    const bool utf16 = head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF") || (head.size() >= 2 && head[0] != 0 && head[1] == 0);
    if (!utf16)
        return QString::fromUtf8(head);
    QStringDecoder decoder(head.startsWith("\xFE\xFF") ? QStringConverter::Utf16BE : QStringConverter::Utf16LE);
    return decoder.decode(head);
}

Reader readerByContent(const QByteArray &bytes)
{
    const QString text = sampleText(bytes).toLower();
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

QString keyOf(const TClientSettings &s)
{
    return s.Server.trimmed().toCaseFolded() + u'\n' + QString::number(s.Port) + u'\n' + s.User.trimmed().toCaseFolded();
}

QString entryName(const TImportRecord &record)
{
    return record.Description.isEmpty() ? record.Settings.Server : record.Description;
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

// The ids of the catalogue's groups by their case-folded names; the last of a name wins, as in a lookup by name.
QHash<QString, int> groupIdsByName()
{
    QHash<QString, int> ids;
    for (const auto &group : GetSvrGroups())
        ids.insert(group->GroupName.toCaseFolded(), group->GroupId);
    return ids;
}

QString addedLine(const std::vector<PSvrItem> &added)
{
    QStringList groups;
    QSet<int> seen;
    for (PSvrItem server : added)
        if (!seen.contains(server->Group.GroupId)) {
            seen.insert(server->Group.GroupId);
            groups << server->Group.GroupName;
        }
    if (groups.size() == 1)
        return QStringLiteral("已导入 %1 台服务器到组“%2”。").arg(added.size()).arg(groups.front());
    QStringList named;
    for (qsizetype i = 0; i < groups.size() && i < kMaxGroupsNamed; ++i)
        named << QStringLiteral("“%1”").arg(groups[i]);
    QString line = QStringLiteral("已导入 %1 台服务器到 %2 个组：%3").arg(added.size()).arg(groups.size()).arg(named.join(u'、'));
    if (groups.size() > kMaxGroupsNamed)
        line += QStringLiteral("等");
    return line + u'。';
}

} // namespace

int TImportBatch::RecordCount() const
{
    int count = 0;
    for (const TImportResult &r : Results)
        count += int(r.Records.size());
    return count;
}

int TImportBatch::SealedCount() const
{
    int count = 0;
    for (const TImportResult &r : Results)
        for (const TImportRecord &record : r.Records)
            count += record.Sealed.Cipher.isEmpty() ? 0 : 1;
    return count;
}

bool TImportBatch::HasFileGroups() const
{
    for (const TImportResult &r : Results)
        for (const TImportRecord &record : r.Records)
            if (!record.Group.isEmpty())
                return true;
    return false;
}

QString ImportFileFilter()
{
    return QStringLiteral("连接文件 (*.rdp *.remmina *.rdg *.xml);;所有文件 (*)");
}

TImportResult ReadImportFile(const QString &path)
{
    const QByteArray bytes = ReadImportBytes(path);
    Reader reader = readerByExtension(path);
    if (!reader)
        reader = readerByContent(bytes);
    if (!reader)
        ThrowUnreadable(path, QStringLiteral("不认识的文件格式；可导入 .rdp、.remmina、.rdg 和 mRemoteNG 的 confCons.xml"));
    TImportResult result = reader(bytes, path);
    result.Source = QFileInfo(path).fileName();
    return result;
}

TImportBatch ReadImportFiles(const QStringList &paths, const TImportProgress &progress)
{
    TImportBatch batch;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        try {
            batch.Results.push_back(ReadImportFile(paths[i]));
        } catch (const AppError &error) {
            batch.Unreadable.push_back({QString(), error.message()});
        }
        if (progress && !progress(int(i + 1), int(paths.size())))
            break;
    }
    return batch;
}

void DropKnownServers(TImportBatch &batch, const TSvrList &catalogue)
{
    QSet<QString> known;
    for (const auto &server : catalogue)
        known.insert(keyOf(server->ClntSett));
    for (TImportResult &result : batch.Results) {
        std::vector<TImportRecord> fresh;
        for (TImportRecord &record : result.Records) {
            const QString key = keyOf(record.Settings);
            if (known.contains(key)) {
                batch.Duplicates.push_back({entryName(record), QStringLiteral("已有同一地址、端口和用户的服务器")});
                continue;
            }
            known.insert(key);
            fresh.push_back(std::move(record));
        }
        result.Records = std::move(fresh);
    }
}

int OpenSealedPasswords(TImportBatch &batch, const QString &master, const TImportProgress &progress)
{
    const int total = batch.SealedCount();
    int done = 0;
    int opened = 0;
    // A file's own check, sealed with the same master password, tells a wrong one
    // at the cost of one key instead of one for every password.
    QHash<QString, bool> checks;
    const auto masterFits = [&](const TSealedPassword &sealed) {
        if (!MRemotePasswords::LooksSealed(sealed.MasterCheck))
            return true;
        const QString key = sealed.MasterCheck + u'\n' + QString::number(sealed.Iterations);
        auto it = checks.constFind(key);
        if (it == checks.cend())
            it = checks.insert(key, MRemotePasswords::Open(sealed.MasterCheck, master, sealed.Iterations).has_value());
        return *it;
    };
    for (TImportResult &result : batch.Results)
        for (TImportRecord &record : result.Records) {
            if (record.Sealed.Cipher.isEmpty())
                continue;
            if (!masterFits(record.Sealed)) {
                if (progress && !progress(++done, total))
                    return opened;
                continue;
            }
            if (const auto clear = MRemotePasswords::Open(record.Sealed.Cipher, master, record.Sealed.Iterations)) {
                record.Settings.Password = *clear;
                record.Sealed = {};
                ++opened;
            }
            if (progress && !progress(++done, total))
                return opened;
        }
    return opened;
}

std::vector<PSvrItem> AddImportedServers(const TImportBatch &batch, const TImportTarget &target)
{
    QHash<QString, int> groupIds = groupIdsByName();
    std::vector<TSvrItem> servers;
    servers.reserve(size_t(batch.RecordCount()));
    for (const TImportResult &result : batch.Results)
        for (const TImportRecord &record : result.Records) {
            TSvrItem &server = servers.emplace_back();
            server.ClntSett = record.Settings;
            server.Description = record.Description;
            server.Group.GroupId = target.GroupId;
            if (!target.KeepFileGroups || record.Group.isEmpty())
                continue;
            if (record.Group == UngroupedName()) { // the servers of no group, as the list shows them
                server.Group.GroupId = UngroupedId;
                continue;
            }
            const QString key = record.Group.toCaseFolded();
            auto it = groupIds.constFind(key);
            if (it == groupIds.cend())
                it = groupIds.insert(key, AddGroup(record.Group));
            server.Group.GroupId = *it;
        }
    return AddSvrItemsToGroups(servers);
}

QString ImportSummary(const TImportBatch &batch, const std::vector<PSvrItem> &added)
{
    QStringList lines;
    if (!added.empty())
        lines << addedLine(added);
    else if (batch.RecordCount() == 0 && !batch.Duplicates.empty())
        lines << QStringLiteral("文件中的服务器都已在列表中，没有导入新的服务器。");
    else
        lines << QStringLiteral("没有导入任何服务器。");
    std::vector<TImportNote> skipped = batch.Duplicates;
    std::vector<TImportNote> notes;
    for (const TImportResult &result : batch.Results) {
        skipped.insert(skipped.end(), result.Skipped.begin(), result.Skipped.end());
        if (added.empty())
            continue;
        notes.insert(notes.end(), result.Notes.begin(), result.Notes.end());
        for (const TImportRecord &record : result.Records)
            if (!record.Sealed.Cipher.isEmpty())
                notes.push_back({entryName(record), ImportText::SealedPassword()});
    }
    appendList(lines, QStringLiteral("未导入 %1 项："), skipped);
    appendList(lines, QStringLiteral("已导入，但有 %1 处未能带过来："), notes);
    appendList(lines, QStringLiteral("无法读取 %1 个文件，其中的服务器都未导入："), batch.Unreadable);
    return lines.join(u'\n');
}
