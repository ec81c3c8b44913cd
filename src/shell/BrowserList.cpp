#include "BrowserList.h"

void TBrowserList::Add(const QString &key, std::unique_ptr<TBrowserEntry> entry)
{
    entries_.emplace_back(key, std::move(entry));
    if (!index_.contains(key))
        index_.insert(key, entries_.size() - 1);
}

TBrowserEntry *TBrowserList::Find(const QString &key) const
{
    const auto found = index_.constFind(key);
    return found == index_.cend() ? nullptr : entries_[*found].second.get();
}

bool TBrowserList::Remove(const QString &key)
{
    const auto found = index_.constFind(key);
    if (found == index_.cend())
        return false;
    entries_.erase(entries_.begin() + qsizetype(*found));
    Reindex();
    return true;
}

void TBrowserList::Clear()
{
    entries_.clear();
    index_.clear();
}

void TBrowserList::Reindex()
{
    index_.clear();
    for (size_t i = 0; i < entries_.size(); ++i)
        if (!index_.contains(entries_[i].first))
            index_.insert(entries_[i].first, i);
}
