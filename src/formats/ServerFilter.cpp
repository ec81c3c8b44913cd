#include "ServerFilter.h"

#include "HostPort.h"
#include "Pinyin.h"

#include <QRegularExpression>

namespace {

// ASCII and the unified ideographs have no compatibility forms and combine with
// nothing: a text of these alone is its own normal form.
bool isOwnNormalForm(const QString &text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x80 && (u < 0x4E00 || u > 0x9FFF))
            return false;
    }
    return true;
}

} // namespace

QString FoldForFind(const QString &text)
{
    if (isOwnNormalForm(text))
        return text.toCaseFolded();
    return text.normalized(QString::NormalizationForm_KC).toCaseFolded();
}

TFindQuery::TFindQuery(const QString &typed)
{
    // Folded first, so that an ideographic (full-width) space also parts words.
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    words_ = FoldForFind(typed).split(blanks, Qt::SkipEmptyParts);
}

bool TServerFilter::isCurrent(const Entry &entry, const TSvrItem &server)
{
    return entry.server == server.ClntSett.Server && entry.port == server.ClntSett.Port && entry.user == server.ClntSett.User
        && entry.description == server.Description && entry.group == server.Group.GroupName;
}

const TServerFilter::Entry &TServerFilter::entryFor(const TSvrItem &server)
{
    Entry &entry = entries_[&server];
    if (!entry.folded.isEmpty() && isCurrent(entry, server))
        return entry;
    entry.server = server.ClntSett.Server;
    entry.port = server.ClntSett.Port;
    entry.user = server.ClntSett.User;
    entry.description = server.Description;
    entry.group = server.Group.GroupName;
    // A line break parts the fields, so that no word is found across two of them.
    const QString address = FormatHostPort(entry.server, entry.port, TClientSettings{}.Port);
    entry.folded = FoldForFind(QStringList{address, entry.user, entry.description, entry.group}.join(u'\n'));
    entry.initials = HasHanzi(entry.folded) ? PinyinInitials(entry.folded) : QString();
    return entry;
}

void TServerFilter::Prepare(const TSvrList &servers)
{
    for (const auto &server : servers)
        entryFor(*server);
}

bool TServerFilter::Matches(const TSvrItem &server, const TFindQuery &query)
{
    const Entry &entry = entryFor(server);
    for (const QString &word : query.Words())
        if (!entry.folded.contains(word) && !entry.initials.contains(word))
            return false;
    return true;
}

std::vector<PSvrItem> TServerFilter::Match(const TSvrList &servers, const TFindQuery &query)
{
    // Entries of servers that have gone are dropped now and then; a record made
    // later at the same address is told apart by its texts.
    if (entries_.size() > 2 * qsizetype(servers.Count()) + 64)
        entries_.clear();
    std::vector<PSvrItem> found;
    for (const auto &server : servers)
        if (Matches(*server, query))
            found.push_back(server.get());
    return found;
}
