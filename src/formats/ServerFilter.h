#pragma once

#include "RdpCommon.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <vector>

// A text as the find box compares it: compatibility-normalised (full-width
// letters, digits and signs become their ordinary forms) and case-folded.
QString FoldForFind(const QString &text);

// What the user typed into the find box: its words, folded. A server matches
// when every word is found in its address (with ":port" after it when the port
// is not the usual one), user name, description or group name, or in the pinyin
// initials of their hanzi ("bj" finds "北京").
class TFindQuery {
public:
    explicit TFindQuery(const QString &typed);
    bool IsEmpty() const { return words_.isEmpty(); }
    const QStringList &Words() const { return words_; }

private:
    QStringList words_;
};

// Answers find queries over the catalogue's servers. The folded texts of each
// server are kept between queries and made again only for a server whose texts
// have changed since, so that a query over thousands of servers is one scan.
class TServerFilter {
public:
    // Makes the folded texts of every server ahead of the first query.
    void Prepare(const TSvrList &servers);
    bool Matches(const TSvrItem &server, const TFindQuery &query);
    // The matching servers, in the list's order.
    std::vector<PSvrItem> Match(const TSvrList &servers, const TFindQuery &query);

private:
    struct Entry {
        // The texts the entry was made from, to notice a change.
        QString server, user, description, group;
        int port = 0;
        QString folded;   // the four folded texts, one per line
        QString initials; // the same with hanzi as their pinyin initials; empty without hanzi
    };
    const Entry &entryFor(const TSvrItem &server);
    static bool isCurrent(const Entry &entry, const TSvrItem &server);

    QHash<const TSvrItem *, Entry> entries_;
};
