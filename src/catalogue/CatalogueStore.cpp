#include "CatalogueStore.h"

#include <algorithm>

namespace {

template <class Record, class IdOf>
std::vector<Record> only(std::vector<Record> all, std::span<const int> ids, IdOf idOf)
{
    std::erase_if(all, [&](const Record &r) { return std::find(ids.begin(), ids.end(), idOf(r)) == ids.end(); });
    return all;
}

} // namespace

std::vector<TSvrGroup> CatalogueStore::fetchGroups(std::span<const int> ids)
{
    int counter = 0;
    return only(readGroups(counter), ids, [](const TSvrGroup &g) { return g.GroupId; });
}

std::vector<TSvrItem> CatalogueStore::fetchServers(std::span<const int> ids)
{
    int counter = 0;
    return only(readServers(counter), ids, [](const TSvrItem &s) { return s.Id; });
}

void CatalogueStore::renameGroupChecked(int groupId, const QString &name, int)
{
    renameGroup(groupId, name);
}

bool CatalogueStore::writeServerChecked(const TSvrItem &server, int)
{
    return writeServer(server);
}
