// Two administrators saving the same record of a shared catalogue: the second
// save is refused with the record as the first left it, and goes through only
// when its writer saves again on top of that version. Nothing is overwritten
// without the writer having seen it.
#include "CatalogueConflict.h"
#include "CatalogueDump.h"
#include "PgServer.h"
#include "PgStore.h"
#include "RdpCommon.h"
#include "TempCatalogue.h"

#include <QTest>

class TestCatalogueConflict : public QObject {
    Q_OBJECT

    std::unique_ptr<PgServer> server;
    QTemporaryDir config;
    int databases = 0;
    QString name;

    QString stored(const QString &sql) const
    {
        QString out;
        if (!server->sql(name, sql, &out))
            qFatal("%s failed", qPrintable(sql));
        return out;
    }

    // This program's catalogue on a fresh database, and a colleague's store on it.
    std::unique_ptr<PgStore> openBoth()
    {
        name = QStringLiteral("v%1").arg(++databases);
        if (!server->createDatabase(name))
            return nullptr;
        UseDatabase(server->address(name));
        LoadGroups();
        LoadServers();
        return std::make_unique<PgStore>(server->address(name));
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        server = PgServer::StartIfRunnable();
    }
    void cleanupTestCase() { server.reset(); }
    void cleanup() { ReleaseCatalogue(); }

    void secondSaveOfAServerSeesTheFirst()
    {
        PG_SERVER_OR_SKIP(server);
        auto colleague = openBoth();
        QVERIFY(colleague);
        const int g = AddGroup(QStringLiteral("机房"));
        PSvrItem mine = AddSvrItem(TestSettings(QStringLiteral("127.0.0.1"), QStringLiteral("我的密码")), -1, QStringLiteral("d"));
        const int id = mine->Id;
        const int opened = SvrItemVersion(id);
        QVERIFY(opened > 0);

        // The colleague reads the server and saves a change of theirs.
        int counter = 0;
        colleague->readGroups(counter);
        std::vector<TSvrItem> theirs = colleague->readServers(counter);
        QCOMPARE(theirs.size(), size_t(1));
        theirs[0].ClntSett.Port = 3390;
        theirs[0].Description = QStringLiteral("同事的");
        theirs[0].Group.GroupId = g;
        QVERIFY(colleague->writeServerChecked(theirs[0], colleague->recordVersion(CatalogueKind::Server, id)));

        // Mine, from the version my dialog showed: refused, with their record.
        TClientSettings settings = mine->ClntSett;
        settings.Width = 1280;
        const QString before = DumpCatalogue();
        int theirVersion = 0;
        try {
            UpdateSvrItem(id, settings, QStringLiteral("我的"), opened);
            QFAIL("the second save went through");
        } catch (const EServerChanged &conflict) {
            theirVersion = conflict.Version();
            QVERIFY(theirVersion > opened);
            QCOMPARE(conflict.Theirs().Id, id);
            QCOMPARE(conflict.Theirs().ClntSett.Port, 3390);
            QCOMPARE(conflict.Theirs().ClntSett.Width, 1024);
            QCOMPARE(conflict.Theirs().Description, QStringLiteral("同事的"));
            QCOMPARE(conflict.Theirs().Group, (TSvrGroup{g, QStringLiteral("机房")}));
            QCOMPARE(conflict.Theirs().ClntSett.Password, QStringLiteral("我的密码")); // each user's own
        }
        QCOMPARE(DumpCatalogue(), before);
        QCOMPARE(stored(QStringLiteral("SELECT port || ' ' || width || ' ' || description FROM catalogue_server")),
                 QStringLiteral("3390 1024 同事的"));

        // Saved again on top of their version: mine goes through, and a second save of
        // mine needs no new check against myself.
        UpdateSvrItem(id, settings, QStringLiteral("我的"), theirVersion);
        QCOMPARE(stored(QStringLiteral("SELECT width || ' ' || description FROM catalogue_server")), QStringLiteral("1280 我的"));
        UpdateSvrItem(id, settings, QStringLiteral("我的二"), SvrItemVersion(id));
        // Now the colleague's stale save is the one refused, and carries mine.
        theirs[0].Description = QStringLiteral("过时的");
        try {
            colleague->writeServerChecked(theirs[0], colleague->recordVersion(CatalogueKind::Server, id));
            QFAIL("the stale save went through");
        } catch (const EServerChanged &conflict) {
            QCOMPARE(conflict.Theirs().Description, QStringLiteral("我的二"));
        }
        // A script's change counts as much as a colleague's.
        QVERIFY(server->sql(name, QStringLiteral("UPDATE catalogue_server SET domain = 'CORP'")));
        QVERIFY_THROWS_EXCEPTION(EServerChanged, UpdateSvrItem(id, settings, QStringLiteral("x"), SvrItemVersion(id)));
        // A save without a version writes over whatever is there, as before.
        UpdateSvrItem(id, settings, QStringLiteral("覆盖"));
        QCOMPARE(stored(QStringLiteral("SELECT description FROM catalogue_server")), QStringLiteral("覆盖"));
    }

    void secondRenameOfAGroupSeesTheFirst()
    {
        PG_SERVER_OR_SKIP(server);
        auto colleague = openBoth();
        QVERIFY(colleague);
        const int g = AddGroup(QStringLiteral("旧名"));
        const int opened = GroupVersion(g);
        int counter = 0;
        colleague->readGroups(counter);
        colleague->renameGroupChecked(g, QStringLiteral("同事的名"), colleague->recordVersion(CatalogueKind::Group, g));
        try {
            RenameGroup(g, QStringLiteral("我的名"), opened);
            QFAIL("the second rename went through");
        } catch (const EGroupChanged &conflict) {
            QCOMPARE(conflict.Theirs(), (TSvrGroup{g, QStringLiteral("同事的名")}));
            QCOMPARE(GetGroup(g).GroupName, QStringLiteral("旧名"));
            RenameGroup(g, QStringLiteral("我的名"), conflict.Version());
        }
        QCOMPARE(GetGroup(g).GroupName, QStringLiteral("我的名"));
        QCOMPARE(stored(QStringLiteral("SELECT name FROM catalogue_group")), QStringLiteral("我的名"));
    }

    // Moving or deleting counts as a change too: a save over a moved server is
    // refused; one over a deleted server says it is gone.
    void movedOrDeletedSinceOpened()
    {
        PG_SERVER_OR_SKIP(server);
        auto colleague = openBoth();
        QVERIFY(colleague);
        PSvrItem mine = AddSvrItem(TestSettings(QStringLiteral("127.0.0.1")), -1, {});
        const int id = mine->Id;
        const int opened = SvrItemVersion(id);
        colleague->setServerGroup(id, 5);
        QVERIFY_THROWS_EXCEPTION(EServerChanged, UpdateSvrItem(id, mine->ClntSett, QStringLiteral("x"), opened));
        colleague->deleteServer(id);
        QVERIFY_THROWS_EXCEPTION(EServerGone, UpdateSvrItem(id, mine->ClntSett, QStringLiteral("x"), SvrItemVersion(id)));
    }

    // The server list file keeps no versions and takes every save.
    void theFileIgnoresVersions()
    {
        TempCatalogue file;
        UseIniFile(file.path());
        LoadGroups();
        LoadServers();
        const int g = AddGroup(QStringLiteral("g"));
        PSvrItem s = AddSvrItem(TestSettings(QStringLiteral("127.0.0.1")), g, {});
        const int id = s->Id;
        QCOMPARE(SvrItemVersion(id), 0);
        QCOMPARE(GroupVersion(g), 0);
        UpdateSvrItem(id, s->ClntSett, QStringLiteral("任意版本"), 12345);
        RenameGroup(g, QStringLiteral("新"), 777);
        ReloadCatalogue(file.path());
        QCOMPARE(GetSvrItem(id)->Description, QStringLiteral("任意版本"));
        QCOMPARE(GetGroup(g).GroupName, QStringLiteral("新"));
    }
};

QTEST_GUILESS_MAIN(TestCatalogueConflict)
#include "tst_catalogueconflict.moc"
