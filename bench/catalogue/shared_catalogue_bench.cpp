// The catalogue in the server list file and in a shared PostgreSQL database, side
// by side: load time of 10,000 and 100,000 servers, the time of each operation,
// and for the database the time until a second copy of the program has the change
// (notification received and the row read). Starts a private PostgreSQL server
// (needs root, see tests/catalogue/PgServer.h).
// Usage: shared_catalogue_bench [servers ...]   (default: 10000 100000)
#include "AppError.h"
#include "CatalogueTransfer.h"
#include "IniStore.h"
#include "PgStore.h"
#include "RdpCommon.h"
#include "StallMeter.h"
#include "catalogue/PgServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int kRepeats = 7;

void writeCatalogue(const QString &file, int servers)
{
    const int groups = std::max(1, servers / 10);
    std::vector<TSvrGroup> g;
    for (int i = 1; i <= groups; ++i)
        g.push_back(TSvrGroup{i, QStringLiteral("服务器组 %1").arg(i)});
    std::vector<TSvrItem> s(static_cast<size_t>(servers));
    for (int i = 1; i <= servers; ++i) {
        TSvrItem &item = s[size_t(i - 1)];
        item.Id = i;
        item.Group.GroupId = (i - 1) % groups + 1;
        item.Description = QStringLiteral("机房 %1 机柜 %2").arg(i % 40).arg(i % 17);
        item.ClntSett.Server = QStringLiteral("127.%1.%2.%3").arg(i / 65536).arg(i / 256 % 256).arg(i % 256);
        item.ClntSett.Domain = QStringLiteral("CORP");
        item.ClntSett.User = QStringLiteral("administrator");
        item.ClntSett.Password = QStringLiteral("P@ssw0rd");
    }
    IniStore(file).writeWhole(g, s, groups, servers);
}

double ms(const QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A second copy of the program: its own connection, told of every change made elsewhere.
struct Listener {
    PgStore store;
    bool seen = false;
    explicit Listener(const QString &address) : store(address)
    {
        int counter = 0;
        store.readGroups(counter);
        QObject::connect(&store, &CatalogueStore::changedElsewhere, [this](CatalogueKind kind, CatalogueVerb verb, const QList<int> &ids) {
            const std::vector<int> wanted(ids.begin(), ids.end());
            if (verb != CatalogueVerb::Deleted)
                kind == CatalogueKind::Group ? void(store.fetchGroups(wanted)) : void(store.fetchServers(wanted));
            seen = true;
        });
    }
    // Milliseconds from `since` until the change has arrived, at most 5 s.
    double waitSince(const QElapsedTimer &since)
    {
        while (!seen && since.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        seen = false;
        return ms(since);
    }
};

struct Operation {
    const char *name;
    std::function<void(int)> run;
};

void measure(const char *store, int servers, Listener *listener)
{
    std::printf("%-9s %7d servers\n", store, servers);
    QElapsedTimer t;
    t.start();
    LoadGroups();
    LoadServers();
    std::printf("  %-16s %10.1f ms\n", "load", ms(t));
    TSvrList &list = GetSvrList();
    const int group = GetSvrGroups().Items(0)->GroupId;
    const QString groupName = GetSvrGroups().Items(0)->GroupName;
    std::vector<int> groupsMade;
    const std::vector<Operation> ops = {
        {"AddGroup", [&](int i) { groupsMade.push_back(AddGroup(QStringLiteral("新组 %1").arg(i))); }},
        {"RenameGroup", [&](int i) { RenameGroup(groupsMade[size_t(i)], QStringLiteral("改名 %1").arg(i)); }},
        {"DeleteGroup", [&](int i) { DeleteGroup(groupsMade[size_t(i)]); }},
        {"AddSvrItem", [&](int i) {
             TClientSettings s;
             s.Server = QStringLiteral("127.1.0.%1").arg(i + 1);
             AddSvrItem(s, -1, QStringLiteral("new"));
         }},
        {"UpdateSvrItem", [&](int i) {
             PSvrItem s = list.Items(i);
             UpdateSvrItem(s->Id, s->ClntSett, QStringLiteral("更新 %1").arg(i));
         }},
        {"SetSvrGroup", [&](int i) { SetSvrGroup(list.Items(i)->Id, groupName); }},
        {"DeleteSvrItem", [&](int) { DeleteSvrItem(list.Items(list.Count() - 1)); }},
    };
    (void)group;
    StallMeter meter;
    for (const Operation &op : ops) {
        std::vector<double> own, seen;
        qint64 stall = 0;
        for (int i = 0; i < kRepeats; ++i) {
            meter.take();
            t.restart();
            op.run(i);
            own.push_back(ms(t));
            QCoreApplication::processEvents(); // the timer's tick after the operation
            stall = std::max(stall, meter.take());
            if (listener)
                seen.push_back(listener->waitSince(t));
        }
        if (listener)
            std::printf("  %-16s %10.2f ms   event loop still at most %4lld ms   shown at a second copy after %7.2f ms\n",
                        op.name, median(own), stall, median(seen));
        else
            std::printf("  %-16s %10.2f ms   event loop still at most %4lld ms\n", op.name, median(own), stall);
    }
    ReleaseCatalogue();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(QString::fromLocal8Bit(argv[i]).toInt());
    if (sizes.empty())
        sizes = {10000, 100000};
    if (const QString why = PgServer::WhyNotRunnable(); !why.isEmpty()) {
        std::fprintf(stderr, "cannot start PostgreSQL: %s\n", qPrintable(why));
        return 1;
    }
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    PgServer server;
    if (!server.ready()) {
        std::fprintf(stderr, "the PostgreSQL server did not start\n");
        return 1;
    }
    try {
        for (int servers : sizes) {
            const QString file = dir.filePath(QStringLiteral("SvrList-%1.ini").arg(servers));
            writeCatalogue(file, servers);
            UseIniFile(file);
            measure("file", servers, nullptr);

            const QString name = QStringLiteral("bench%1").arg(servers);
            server.createDatabase(name);
            const QString address = server.address(name);
            QElapsedTimer t;
            t.start();
            const CatalogueCopySummary summary = ImportIniIntoDatabase(file, address);
            std::printf("database: import of %d servers, %d groups: %.1f ms\n", summary.servers, summary.groups, ms(t));
            Listener listener(address);
            UseDatabase(address);
            measure("database", servers, &listener);
        }
    } catch (const AppError &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
