// The catalogue's operations over both stores, the server list file and a
// PostgreSQL database, with the same expectations; and what only a database
// shared by several copies of the program has: ids handed out to concurrent
// writers, changes refused by the database, passwords kept out of it.
#include "AppError.h"
#include "CatalogueDump.h"
#include "CatalogueTransfer.h"
#include "Encrypt.h"
#include "IniEncoding.h"
#include "PgServer.h"
#include "PgSchema.h"
#include "PgStore.h"
#include "RdpCommon.h"
#include "TempCatalogue.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSet>
#include <QTest>
#include <functional>

namespace {

QString num(int n) { return QString::number(n); }

struct Case {
    const char *name;
    // Runs operations on a loaded, empty catalogue; returns what they answered.
    std::function<QStringList()> run;
    QString answers;
    QString memory;      // the catalogue in memory afterwards
    QString afterReload; // the catalogue read back from the store
};

const QString kEmpty = QStringLiteral("counters 0 0");

const std::vector<Case> &cases()
{
    static const std::vector<Case> table = {
        {"first ids are one",
         [] {
             return QStringList{num(AddGroup(QStringLiteral("生产"))),
                                num(AddSvrItem(TestSettings(QStringLiteral("127.0.0.1")), -1, QStringLiteral("desc"))->Id)};
         },
         QStringLiteral("1 1"),
         QStringLiteral("counters 1 1\ngroup 1 生产\n"
                        "server 1 [-1 未分组] 127.0.0.1:3389 \\admin pw=pw 1024x768 fs=false depth=24 desc=desc"),
         {}},
        {"a new server takes its group's name",
         [] {
             const int g = AddGroup(QStringLiteral("数据库"));
             TClientSettings s = TestSettings(QStringLiteral("127.0.0.2"), QStringLiteral("口令x"));
             s.Port = 13389;
             s.Domain = QStringLiteral("CORP");
             s.Width = 1920;
             s.Height = 1080;
             s.FullScreen = true;
             s.ColorDepth = 12;
             return QStringList{num(AddSvrItem(s, g, QStringLiteral("主库"))->Id)};
         },
         QStringLiteral("1"),
         QStringLiteral("counters 1 1\ngroup 1 数据库\n"
                        "server 1 [1 数据库] 127.0.0.2:13389 CORP\\admin pw=口令x 1920x1080 fs=true depth=12 desc=主库"),
         {}},
        {"update replaces settings and description, keeps id and group",
         [] {
             const int g = AddGroup(QStringLiteral("g"));
             PSvrItem s = AddSvrItem(TestSettings(QStringLiteral("127.0.0.3")), g, {});
             TClientSettings changed = TestSettings(QStringLiteral("127.0.0.33"), QStringLiteral("new"));
             changed.Port = -5;
             UpdateSvrItem(s->Id, changed, QStringLiteral("改"));
             UpdateSvrItem(99, changed, QStringLiteral("nobody")); // no such server: nothing happens
             return QStringList{num(GetSvrList().Count())};
         },
         QStringLiteral("1"),
         QStringLiteral("counters 1 1\ngroup 1 g\nserver 1 [1 g] 127.0.0.33:-5 \\admin pw=new 1024x768 fs=false depth=24 desc=改"),
         {}},
        {"move by name, an unknown name keeps the name in memory only",
         [] {
             AddGroup(QStringLiteral("A"));
             const int b = AddGroup(QStringLiteral("B"));
             PSvrItem s1 = AddSvrItem(TestSettings(QStringLiteral("127.0.0.4")), -1, {});
             PSvrItem s2 = AddSvrItem(TestSettings(QStringLiteral("127.0.0.5")), b, {});
             MoveSvrItem(s1, QStringLiteral("B"));
             SetSvrGroup(s2->Id, QStringLiteral("没有这个组"));
             MoveSvrItem(nullptr, QStringLiteral("A"));
             SetSvrGroup(77, QStringLiteral("A"));
             return QStringList{};
         },
         {},
         QStringLiteral("counters 2 2\ngroup 1 A\ngroup 2 B\n"
                        "server 1 [2 B] 127.0.0.4:3389 \\admin pw=pw 1024x768 fs=false depth=24 desc=\n"
                        "server 2 [-1 没有这个组] 127.0.0.5:3389 \\admin pw=pw 1024x768 fs=false depth=24 desc="),
         QStringLiteral("counters 2 2\ngroup 1 A\ngroup 2 B\n"
                        "server 1 [2 B] 127.0.0.4:3389 \\admin pw=pw 1024x768 fs=false depth=24 desc=\n"
                        "server 2 [-1 未分组] 127.0.0.5:3389 \\admin pw=pw 1024x768 fs=false depth=24 desc=")},
        {"deleting keeps the counters; ids are never given again",
         [] {
             AddSvrItem(TestSettings(QStringLiteral("127.0.0.6")), -1, {});
             PSvrItem last = AddSvrItem(TestSettings(QStringLiteral("127.0.0.7")), -1, {});
             DeleteSvrItem(last);
             const int g = AddGroup(QStringLiteral("gone"));
             DeleteGroup(g);
             DeleteGroup(42); // no such group
             return QStringList{num(AddSvrItem(TestSettings(QStringLiteral("127.0.0.8")), -1, {})->Id),
                                num(AddGroup(QStringLiteral("next")))};
         },
         QStringLiteral("3 2"),
         QStringLiteral("counters 2 3\ngroup 2 next\n"
                        "server 1 [-1 未分组] 127.0.0.6:3389 \\admin pw=pw 1024x768 fs=false depth=24 desc=\n"
                        "server 3 [-1 未分组] 127.0.0.8:3389 \\admin pw=pw 1024x768 fs=false depth=24 desc="),
         {}},
        {"a deleted group's servers keep its id and load ungrouped",
         [] {
             const int g = AddGroup(QStringLiteral("旧组"));
             AddSvrItem(TestSettings(QStringLiteral("127.0.0.9")), g, {});
             const bool had = GroupHasServers(g);
             DeleteGroup(g);
             return QStringList{had ? QStringLiteral("has") : QStringLiteral("empty"),
                                GroupHasServers(g) ? QStringLiteral("has") : QStringLiteral("empty")};
         },
         QStringLiteral("has has"),
         QStringLiteral("counters 1 1\nserver 1 [1 旧组] 127.0.0.9:3389 \\admin pw=pw 1024x768 fs=false depth=24 desc="),
         QStringLiteral("counters 1 1\nserver 1 [1 未分组] 127.0.0.9:3389 \\admin pw=pw 1024x768 fs=false depth=24 desc=")},
        {"register keeps ids and raises the counter only upward",
         [] {
             return QStringList{num(RegisterGroup(TSvrGroup{10, QStringLiteral("ten")})),
                                num(RegisterGroup(TSvrGroup{4, QStringLiteral("four")})),
                                num(AddGroup(QStringLiteral("eleven")))};
         },
         QStringLiteral("10 10 11"),
         QStringLiteral("counters 11 0\ngroup 10 ten\ngroup 4 four\ngroup 11 eleven"),
         QStringLiteral("counters 11 0\ngroup 4 four\ngroup 10 ten\ngroup 11 eleven")},
        {"same names: the last group wins; renames; unknown ids",
         [] {
             const int first = AddGroup(QStringLiteral("same"));
             const int second = AddGroup(QStringLiteral("same"));
             const int byName = GetGroupIdByName(QStringLiteral("same"));
             RenameGroup(first, QStringLiteral("renamed"));
             RenameGroup(99, QStringLiteral("ghost"));
             return QStringList{num(second), num(byName), num(GetGroupIdByName(QStringLiteral("SAME"))),
                                GetGroup(99).GroupName, num(GetSvrGroups().Count())};
         },
         QStringLiteral("2 2 -1 未分组 2"),
         QStringLiteral("counters 2 0\ngroup 1 renamed\ngroup 2 same"),
         {}},
        {"several servers added at once get consecutive ids in one group",
         [] {
             const int g = AddGroup(QStringLiteral("批量"));
             std::vector<TSvrItem> batch(3);
             for (int i = 0; i < 3; ++i) {
                 batch[size_t(i)].ClntSett = TestSettings(QStringLiteral("127.0.1.%1").arg(i + 1), {});
                 batch[size_t(i)].Description = QStringLiteral("第%1台").arg(i + 1);
             }
             QStringList ids;
             for (PSvrItem s : AddSvrItems(batch, g))
                 ids << num(s->Id);
             ids << num(int(AddSvrItems({}, g).size()));
             return ids;
         },
         QStringLiteral("1 2 3 0"),
         QStringLiteral("counters 1 3\ngroup 1 批量\n"
                        "server 1 [1 批量] 127.0.1.1:3389 \\admin pw= 1024x768 fs=false depth=24 desc=第1台\n"
                        "server 2 [1 批量] 127.0.1.2:3389 \\admin pw= 1024x768 fs=false depth=24 desc=第2台\n"
                        "server 3 [1 批量] 127.0.1.3:3389 \\admin pw= 1024x768 fs=false depth=24 desc=第3台"),
         {}},
        {"texts keep every character",
         [] {
             const QString text = QStringLiteral("含 'quote' \"双\" \\ ; -- %1 \U0001F600 ").repeated(60);
             TClientSettings s = TestSettings(text.left(200));
             s.User = text.left(100);
             AddSvrItem(s, -1, text.left(1500));
             return QStringList{num(GetSvrItem(1)->Description.size())};
         },
         QStringLiteral("1500"),
         {},
         {}},
    };
    return table;
}

} // namespace

class TestCatalogueStores : public QObject {
    Q_OBJECT

    std::unique_ptr<PgServer> server;
    std::unique_ptr<TempCatalogue> dir;
    QTemporaryDir config;
    QString store;   // "file" or "database"
    QString address; // the database of the case
    int databases = 0;

    QString freshDatabase()
    {
        const QString name = QStringLiteral("c%1").arg(++databases);
        if (!server->createDatabase(name))
            qFatal("cannot create database %s", qPrintable(name));
        return server->address(name);
    }

    void useStore()
    {
        if (store == QLatin1String("file"))
            UseIniFile(dir->path());
        else
            UseDatabase(address);
    }

    void reload()
    {
        useStore();
        LoadGroups();
        LoadServers();
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        server = PgServer::StartIfRunnable();
    }
    void cleanupTestCase() { server.reset(); }
    void init() { dir = std::make_unique<TempCatalogue>(); }
    void cleanup()
    {
        ReleaseCatalogue();
        dir.reset();
    }

    void operations_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("index");
        for (const char *kind : {"file", "database"})
            for (size_t i = 0; i < cases().size(); ++i)
                QTest::addRow("%s: %s", kind, cases()[i].name) << QString::fromLatin1(kind) << int(i);
    }
    void operations()
    {
        QFETCH(QString, kind);
        QFETCH(int, index);
        store = kind;
        if (store == QLatin1String("database")) {
            PG_SERVER_OR_SKIP(server);
            address = freshDatabase();
        }
        const Case &c = cases()[size_t(index)];
        reload();
        QCOMPARE(DumpCatalogue(), kEmpty);
        QCOMPARE(c.run().join(QLatin1Char(' ')), c.answers);
        const QString memory = DumpCatalogue();
        if (!c.memory.isEmpty())
            QCOMPARE(memory, c.memory);
        reload();
        QCOMPARE(DumpCatalogue(), c.afterReload.isEmpty() ? memory : c.afterReload);
    }

    // Two processes adding servers to one database at the same time: every server
    // gets an id of its own, and none is lost.
    void concurrentAddsGetDistinctIds()
    {
        PG_SERVER_OR_SKIP(server);
        const QString db = freshDatabase();
        UseDatabase(db);
        LoadGroups(); // the first copy makes the tables
        constexpr int kEach = 40;
        QProcess writers[2];
        for (int i = 0; i < 2; ++i)
            writers[i].start(QStringLiteral(BRENNIC_CATALOGUE_WRITER),
                             {QStringLiteral("add"), db, QStringLiteral("w%1").arg(i), QString::number(kEach)});
        for (QProcess &writer : writers) {
            QVERIFY(writer.waitForFinished(60000));
            QCOMPARE(writer.exitCode(), 0);
        }
        UseDatabase(db);
        LoadGroups();
        LoadServers();
        QSet<int> ids;
        QSet<QString> descriptions;
        for (const auto &s : GetSvrList()) {
            ids.insert(s->Id);
            descriptions.insert(s->Description);
        }
        QCOMPARE(GetSvrList().Count(), 2 * kEach);
        QCOMPARE(ids.size(), 2 * kEach);
        QCOMPARE(descriptions.size(), 2 * kEach);
        QCOMPARE(MaxServerId, 2 * kEach);
    }

    // A change the database refuses is the error of a write that failed, with the
    // database's reason, and leaves the catalogue in memory as it was.
    void refusedChangeLeavesMemoryUnchanged_data()
    {
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("reason");
        QTest::newRow("permission revoked") << "REVOKE INSERT, UPDATE, DELETE ON catalogue_server, catalogue_group FROM colleague"
                                            << "permission denied";
        QTest::newRow("constraint") << "ALTER TABLE catalogue_server ADD CHECK (port > 0);"
                                       " ALTER TABLE catalogue_group ADD CHECK (name <> ''); "
                                       "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
                                       "$$BEGIN RAISE EXCEPTION 'frozen for maintenance'; END$$; "
                                       "CREATE TRIGGER refuse BEFORE DELETE ON catalogue_server FOR EACH ROW EXECUTE FUNCTION refuse(); "
                                       "CREATE TRIGGER refuse BEFORE DELETE OR INSERT ON catalogue_group FOR EACH ROW EXECUTE FUNCTION refuse(); "
                                       "CREATE TRIGGER refuse_insert BEFORE INSERT ON catalogue_server FOR EACH ROW EXECUTE FUNCTION refuse()"
                                    << "";
    }
    void refusedChangeLeavesMemoryUnchanged()
    {
        QFETCH(QString, refusal);
        QFETCH(QString, reason);
        PG_SERVER_OR_SKIP(server);
        const QString name = QStringLiteral("c%1").arg(++databases);
        QVERIFY(server->createDatabase(name));
        UseDatabase(server->address(name));
        LoadGroups(); // makes the tables as their owner
        ReleaseCatalogue();
        QVERIFY(server->sql(name, QStringLiteral("DO $$BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'colleague')"
                                                 " THEN CREATE ROLE colleague LOGIN; END IF; END$$;"
                                                 " GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA public TO colleague;"
                                                 " GRANT USAGE, SELECT, UPDATE ON ALL SEQUENCES IN SCHEMA public TO colleague")));
        address = server->address(name, QStringLiteral("colleague"));
        store = QStringLiteral("database");
        reload();
        const int g = AddGroup(QStringLiteral("组"));
        PSvrItem s = AddSvrItem(TestSettings(QStringLiteral("127.0.0.1")), g, QStringLiteral("d"));
        QVERIFY(server->sql(name, refusal));
        const QString before = DumpCatalogue();
        TClientSettings bad = s->ClntSett;
        bad.Port = -1;
        const std::vector<std::pair<const char *, std::function<void()>>> changes = {
            {"AddGroup", [] { AddGroup(QString()); }},
            {"AddSvrItem", [] { AddSvrItem(TestSettings(QStringLiteral("127.0.0.2")), -1, {}); }},
            {"UpdateSvrItem", [&] { UpdateSvrItem(s->Id, bad, QStringLiteral("x")); }},
            {"DeleteSvrItem", [&] { DeleteSvrItem(s); }},
            {"DeleteGroup", [&] { DeleteGroup(g); }},
        };
        for (const auto &[what, change] : changes) {
            QString message;
            try {
                change();
            } catch (const AppError &error) {
                message = error.message();
            }
            QVERIFY2(message.startsWith(QStringLiteral("Unable to write to postgresql://colleague@localhost/%1").arg(name)),
                     qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(what), message)));
            QVERIFY2(message.contains(reason.isEmpty() ? QStringLiteral("ERROR:") : reason), qPrintable(message));
            QCOMPARE(DumpCatalogue(), before);
        }
        // Read back, the records are as they were; the refused adds have used up ids,
        // which the database never gives out again.
        reload();
        const auto records = [](const QString &dump) { return dump.section(QLatin1Char('\n'), 1); };
        QCOMPARE(records(DumpCatalogue()), records(before));
    }

    // The database holds no password in any form; each user's passwords stay in a
    // file of their own, under the shared server's id.
    void passwordsStayOutOfTheDatabase()
    {
        PG_SERVER_OR_SKIP(server);
        const QString name = QStringLiteral("c%1").arg(++databases);
        QVERIFY(server->createDatabase(name));
        UseDatabase(server->address(name));
        LoadGroups();
        LoadServers();
        const QString secret = QStringLiteral("Very$ecret42");
        const int id = AddSvrItem(TestSettings(QStringLiteral("127.0.0.1"), secret), -1, {})->Id;
        QString dump;
        QVERIFY(server->sql(name, QStringLiteral("SELECT t::text FROM catalogue_server t"), &dump));
        QVERIFY(!dump.isEmpty());
        QVERIFY(!dump.contains(secret));
        QVERIFY(!dump.contains(EncryptStr(secret)));
        const QString file = GetCatalogueStore().passwordFile();
        QVERIFY(file.startsWith(config.path()));
        QFile local(file);
        QVERIFY(local.open(QIODevice::ReadOnly));
        const QString text = DecodeIniText(local.readAll()).text;
        QVERIFY2(text.contains(QStringLiteral("[Server%1]").arg(id)) && text.contains(EncryptStr(secret)), qPrintable(text));

        // Another user, with a password file of their own, sees the server without a password.
        QTemporaryDir otherHome;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(otherHome.path()));
        UseDatabase(server->address(name));
        LoadGroups();
        LoadServers();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        QCOMPARE(GetSvrItem(id)->ClntSett.Password, QString());
        QCOMPARE(GetSvrItem(id)->ClntSett.Server, QStringLiteral("127.0.0.1"));
    }

    // A team's first database from an admin's file: ids kept where the database has
    // them free, servers following their groups; and back out to a new file.
    void importAndExport()
    {
        PG_SERVER_OR_SKIP(server);
        const QString name = QStringLiteral("c%1").arg(++databases);
        QVERIFY(server->createDatabase(name));
        const QString db = server->address(name);
        UseDatabase(db);
        LoadGroups(); // makes the tables
        ReleaseCatalogue();
        QVERIFY(server->sql(name, QStringLiteral("INSERT INTO catalogue_group (id, name) VALUES (3, '已有');"
                                                 " INSERT INTO catalogue_server (id, address) VALUES (2, '127.0.0.99')")));
        dir->write(TempCatalogue::dataFile(QStringLiteral("SvrList-utf8.ini")));
        const CatalogueCopySummary in = ImportIniIntoDatabase(dir->path(), db);
        QCOMPARE(in.groups, 3);
        QCOMPARE(in.servers, 5);
        QCOMPARE(in.groupsRenumbered, 1);
        QCOMPARE(in.serversRenumbered, 1);
        QCOMPARE(in.passwords, 4);
        QVERIFY(in.text(dir->path(), PgStore::Describe(db)).contains(QStringLiteral("3 个组，5 台服务器")));

        UseDatabase(db);
        LoadGroups();
        LoadServers();
        // Group 3 had its id taken: it became 5 (past every kept id), and its server followed;
        // server 2 became 8.
        const QString imported = QStringLiteral(
            "counters 5 8\n"
            "group 1 生产服务器\n"
            "group 3 已有\n"
            "group 4 数据库\n"
            "group 5 测试环境\n"
            "server 1 [1 生产服务器] 127.0.0.10:3389 CORP\\administrator pw=P@ssw0rd! 1024x768 fs=false depth=24 desc=主站 Web 服务器\n"
            "server 2 [-1 未分组] 127.0.0.99:3389 \\ pw= 1024x768 fs=false depth=24 desc=\n"
            "server 5 [5 测试环境] 127.0.0.12:13389 \\测试用户 pw=abc 800x600 fs=false depth=16 desc=测试机，端口非默认\n"
            "server 6 [9 未分组] 127.0.0.13:3389 \\ops pw= 1024x768 fs=false depth=12 desc=组已删除的服务器\n"
            "server 7 [-1 未分组] 127.0.0.14:3389 \\root pw=longpassword123 1920x1080 fs=false depth=15 desc=\n"
            "server 8 [1 生产服务器] localhost:3390 \\admin pw=secret99 1280x1024 fs=true depth=32 desc=备用");
        QCOMPARE(DumpCatalogue(), imported);
        ReleaseCatalogue();

        TempCatalogue out;
        const CatalogueCopySummary back = ExportDatabaseToIni(db, out.path());
        QCOMPARE(back.groups, 4);
        QCOMPARE(back.servers, 6);
        ReloadCatalogue(out.path());
        QCOMPARE(DumpCatalogue(), imported);
        ReleaseCatalogue();
        // An existing file is never overwritten.
        const QByteArray before = out.read();
        QVERIFY_THROWS_EXCEPTION(AppError, ExportDatabaseToIni(db, out.path()));
        QCOMPARE(out.read(), before);
    }

    // A database whose tables an earlier version of the program made is brought up
    // to date on first use, its rows kept; one made by a newer program is refused.
    void schemaUpgradesFromTheFirstVersion()
    {
        PG_SERVER_OR_SKIP(server);
        const QString name = QStringLiteral("c%1").arg(++databases);
        QVERIFY(server->createDatabase(name));
        {
            QSqlDatabase old = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("first version"));
            old.setHostName(server->socketFolder());
            old.setPort(server->port());
            old.setDatabaseName(name);
            old.setUserName(QStringLiteral("brennic"));
            QVERIFY(old.open());
            UpgradeCatalogueSchema(old, 1);
            QCOMPARE(CatalogueSchemaVersionOf(old), 1);
            old.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("first version"));
        QVERIFY(server->sql(name, QStringLiteral("INSERT INTO catalogue_group (name) VALUES ('旧');"
                                                 " INSERT INTO catalogue_server (address, group_id) VALUES ('127.0.0.3', 1)")));
        QString version;
        QVERIFY(server->sql(name, QStringLiteral("SELECT count(*) FROM pg_trigger WHERE tgname LIKE 'catalogue%announce'"), &version));
        QCOMPARE(version, QStringLiteral("0"));

        UseDatabase(server->address(name));
        LoadGroups();
        LoadServers();
        QCOMPARE(DumpCatalogue(), QStringLiteral("counters 1 1\ngroup 1 旧\n"
                                                 "server 1 [1 旧] 127.0.0.3:3389 \\ pw= 1024x768 fs=false depth=24 desc="));
        QVERIFY(server->sql(name, QStringLiteral("SELECT version FROM catalogue_schema"), &version));
        QCOMPARE(version, QString::number(CatalogueSchemaVersion));
        QVERIFY(server->sql(name, QStringLiteral("SELECT count(*) FROM pg_trigger WHERE tgname LIKE 'catalogue%announce'"), &version));
        QCOMPARE(version, QStringLiteral("2"));
        QCOMPARE(AddSvrItem(TestSettings(QStringLiteral("127.0.0.4")), 1, {})->Id, 2);
        ReleaseCatalogue();

        QVERIFY(server->sql(name, QStringLiteral("UPDATE catalogue_schema SET version = %1").arg(CatalogueSchemaVersion + 1)));
        UseDatabase(server->address(name));
        try {
            LoadGroups();
            QFAIL("a newer database was used");
        } catch (const AppError &error) {
            QVERIFY2(error.message().contains(QStringLiteral("请先升级本程序")), qPrintable(error.message()));
        }
    }
};

QTEST_GUILESS_MAIN(TestCatalogueStores)
#include "tst_cataloguestores.moc"
