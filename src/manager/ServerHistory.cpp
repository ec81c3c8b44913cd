#include "ServerHistory.h"

#include "HistoryStore.h"
#include "ReachabilityHistory.h"

ServerHistory::ServerHistory(Clock &clock, QObject *parent) : QObject(parent), clock_(clock)
{
}

ServerHistory::~ServerHistory()
{
    close();
}

void ServerHistory::close()
{
    Save();
    // The store waits for its write to end as it goes, before the history it reads.
    store_.reset();
    history_.reset();
}

void ServerHistory::Use(const QString &identity, const std::optional<QSet<int>> &ids)
{
    if (history_ && identity == identity_) {
        if (ids)
            history_->keepOnly(*ids);
        return;
    }
    close();
    identity_ = identity;
    history_ = std::make_unique<ReachabilityHistory>(clock_);
    if (!identity.isEmpty()) {
        store_ = std::make_unique<HistoryStore>(*history_, clock_, identity);
        // A file written before servers left the catalogue still holds them.
        if (store_->load() && ids)
            history_->keepOnly(*ids);
    }
    emit historyReplaced(history_.get());
}

void ServerHistory::Forget(int id)
{
    if (history_)
        history_->forget(id);
}

void ServerHistory::Save()
{
    if (store_)
        store_->saveNow();
}
