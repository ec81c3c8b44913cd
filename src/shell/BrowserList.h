#pragma once

#include "WebBrowser.h"

#include <QHash>
#include <QPointer>
#include <QString>
#include <memory>
#include <utility>
#include <vector>

// A registered browser tab. Neither control belongs to the entry: the tab owns
// its browser and the tab strip owns the tab.
struct TBrowserEntry {
    QPointer<WebBrowser> Browser;
    QPointer<QWidget> Sheet;
};

// The registry of browser tabs: entries in the order they were added, found by key.
class TBrowserList {
public:
    void Add(const QString &key, std::unique_ptr<TBrowserEntry> entry);
    TBrowserEntry *Find(const QString &key) const;
    // Frees the entry under the key; false when there is none.
    bool Remove(const QString &key);
    void Clear();
    int Count() const { return int(entries_.size()); }
    const QString &Key(int index) const { return entries_.at(size_t(index)).first; }

private:
    void Reindex();

    std::vector<std::pair<QString, std::unique_ptr<TBrowserEntry>>> entries_;
    QHash<QString, size_t> index_;
};
