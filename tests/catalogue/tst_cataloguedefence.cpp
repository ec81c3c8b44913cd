// A shared catalogue whose database a team member, a script or another tool has
// been writing to: nothing found there reaches a colleague's files unchecked,
// locks the team out, or breaks a colleague's work.
#include "AppError.h"
#include "CatalogueLimits.h"
#include "CatalogueDump.h"
#include "LocalPasswords.h"
#include "PgSchema.h"
#include "PgServer.h"
#include "PgStore.h"
#include "RdpCommon.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QSet>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QTest>

#include <sys/stat.h>

namespace {

const QString kColleague = QStringLiteral("colleague");

// The grants the README gives the team, and the broad ones it gave before.
const QString kTeamGrants = QStringLiteral(
    "GRANT SELECT ON catalogue_schema TO colleague;"
    " GRANT SELECT, INSERT, UPDATE, DELETE ON catalogue_group, catalogue_server TO colleague;"
    " GRANT USAGE, SELECT, UPDATE ON catalogue_group_id_seq, catalogue_server_id_seq TO colleague");
const QString kBroadGrants = QStringLiteral(
    "GRANT SELECT, INSERT, UPDATE, DELETE, TRUNCATE ON ALL TABLES IN SCHEMA public TO colleague;"
    " GRANT USAGE, SELECT, UPDATE ON ALL SEQUENCES IN SCHEMA public TO colleague");

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

QString errorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const AppError &error) {
        return error.message();
    }
    return {};
}

} // namespace

class TestCatalogueDefence : public QObject {
    Q_OBJECT

    std::unique_ptr<PgServer> server;
    QTemporaryDir config;
    int databases = 0;
    QString name; // the database of the test

    QString address(const QString &role = QStringLiteral("brennic")) const { return server->address(name, role); }

    // A fresh database with the tables at the given version, made as their owner.
    void freshDatabase(int version = CatalogueSchemaVersion)
    {
        name = QStringLiteral("d%1").arg(++databases);
        QVERIFY(server->createDatabase(name));
        const QString connection = QStringLiteral("setup");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
            db.setHostName(server->socketFolder());
            db.setPort(server->port());
            db.setDatabaseName(name);
            db.setUserName(QStringLiteral("brennic"));
            QVERIFY(db.open());
            UpgradeCatalogueSchema(db, version);
            db.close();
        }
        QSqlDatabase::removeDatabase(connection);
    }

    QString query(const QString &sql) const
    {
        QString out;
        if (!server->sql(name, sql, &out))
            qFatal("%s failed", qPrintable(sql));
        return out;
    }

    QString passwordFolder() const { return config.path() + QStringLiteral("/brennic/passwords"); }

    void load(const QString &role = QStringLiteral("brennic"))
    {
        UseDatabase(address(role));
        LoadGroups();
        LoadServers();
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        server = PgServer::StartIfRunnable();
        if (server && server->ready())
            QVERIFY(server->ensureRole(kColleague));
    }
    void cleanupTestCase() { server.reset(); }
    void cleanup()
    {
        ReleaseCatalogue();
        if (server)
            server->setQuietFailures(false);
    }

    // Only ids of the form the program makes name a file, and then one inside the folder.
    void passwordFileNamesOnlyWellFormedIds_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("made by the program") << "0123456789abcdef0123456789abcdef" << true;
        QTest::newRow("climbs out of the folder") << "../../../../share/steal" << false;
        QTest::newRow("absolute path") << "/tmp/0123456789abcdef0123456789a" << false;
        QTest::newRow("a word") << "hijacked" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("one digit too many") << "0123456789abcdef0123456789abcdef0" << false;
        QTest::newRow("upper case") << "0123456789ABCDEF0123456789ABCDEF" << false;
        QTest::newRow("full-width digits") << QStringLiteral("０１２３４５６７８９abcdef0123456789abcdef") << false;
        QTest::newRow("line break") << "0123456789abcdef0123456789abcde\n"
                                    << false;
    }
    void passwordFileNamesOnlyWellFormedIds()
    {
        QFETCH(QString, id);
        QFETCH(bool, accepted);
        QCOMPARE(LocalPasswords::IsCatalogueId(id), accepted);
        const QString message = errorOf([&] {
            const QString file = LocalPasswords::FileFor(id);
            QCOMPARE(QFileInfo(file).absolutePath(), passwordFolder());
            QCOMPARE(QFileInfo(file).fileName(), id + QStringLiteral(".ini"));
        });
        QCOMPARE(message.isEmpty(), accepted);
    }

    // A team member given the rights the README names, or the broader ones it used to
    // name, cannot change the schema row in any way; the owner still can.
    void teamMemberCannotChangeTheSchemaRow_data()
    {
        QTest::addColumn<QString>("grants");
        QTest::newRow("README's grants") << kTeamGrants;
        QTest::newRow("every table granted") << kBroadGrants;
    }
    void teamMemberCannotChangeTheSchemaRow()
    {
        QFETCH(QString, grants);
        PG_SERVER_OR_SKIP(server);
        freshDatabase();
        QVERIFY(server->sql(name, grants));
        const QString before = query(QStringLiteral("SELECT version, catalogue_id FROM catalogue_schema"));
        server->setQuietFailures(true);
        for (const QString &attack :
             {QStringLiteral("UPDATE catalogue_schema SET version = 7"),
              QStringLiteral("UPDATE catalogue_schema SET catalogue_id = 'hijacked'"),
              QStringLiteral("UPDATE catalogue_schema SET catalogue_id = md5('another')"),
              QStringLiteral("DELETE FROM catalogue_schema"), QStringLiteral("TRUNCATE catalogue_schema"),
              QStringLiteral("INSERT INTO catalogue_schema VALUES (3, md5('second'))")}) {
            QVERIFY2(!server->sql(name, attack, nullptr, kColleague), qPrintable(attack));
            QVERIFY2(server->lastError().contains(QStringLiteral("permission denied"))
                         || server->lastError().contains(QStringLiteral("only the owner")),
                     qPrintable(server->lastError()));
        }
        server->setQuietFailures(false);
        QCOMPARE(query(QStringLiteral("SELECT version, catalogue_id FROM catalogue_schema")), before);
        // The member still works on the catalogue itself.
        load(kColleague);
        QCOMPARE(AddGroup(QStringLiteral("组")), 1);
        QCOMPARE(AddSvrItem(TestSettings(QStringLiteral("127.0.0.1")), 1, {})->Id, 1);
    }

    // A database set up with write rights on every table loses them on the schema
    // table when the program upgrades it, and keeps them on the catalogue's rows.
    void upgradeTakesBackWriteRightsOnTheSchemaTable()
    {
        PG_SERVER_OR_SKIP(server);
        freshDatabase(2);
        QVERIFY(server->sql(name, kBroadGrants + QStringLiteral("; GRANT UPDATE ON catalogue_schema TO PUBLIC")));
        load();
        QCOMPARE(query(QStringLiteral("SELECT version FROM catalogue_schema")), QString::number(CatalogueSchemaVersion));
        const QString rights = QStringLiteral("SELECT has_table_privilege('colleague', '%1', '%2')");
        QCOMPARE(query(rights.arg(QStringLiteral("catalogue_schema"), QStringLiteral("UPDATE"))), QStringLiteral("f"));
        QCOMPARE(query(rights.arg(QStringLiteral("catalogue_schema"), QStringLiteral("SELECT"))), QStringLiteral("t"));
        QCOMPARE(query(rights.arg(QStringLiteral("catalogue_server"), QStringLiteral("UPDATE"))), QStringLiteral("t"));
        QCOMPARE(query(QStringLiteral("SELECT has_table_privilege('public', 'catalogue_schema', 'UPDATE')")),
                 QStringLiteral("f"));
    }

    // A catalogue id changed before this version guarded the row: the program
    // refuses the database with a clear message and writes no file for it.
    void hostileCatalogueIdIsRefused_data()
    {
        QTest::addColumn<QString>("id");
        QTest::newRow("climbs out of the folder") << "../../../../share/steal";
        QTest::newRow("a word") << "hijacked";
        QTest::newRow("empty") << "";
    }
    void hostileCatalogueIdIsRefused()
    {
        QFETCH(QString, id);
        PG_SERVER_OR_SKIP(server);
        freshDatabase(2);
        QVERIFY(server->sql(name, kBroadGrants));
        QVERIFY(server->sql(name, QStringLiteral("UPDATE catalogue_schema SET catalogue_id = '%1'").arg(id), nullptr, kColleague));
        const auto filesBefore = QDir(passwordFolder()).entryList(QDir::Files | QDir::Hidden).size();
        // The owner's start upgrades the tables, keeping the row as it is, and is refused;
        // so is a team member's.
        for (const QString &role : {QStringLiteral("brennic"), kColleague}) {
            UseDatabase(address(role));
            const QString message = errorOf([] { LoadGroups(); });
            QVERIFY2(message.contains(QStringLiteral("目录标识")), qPrintable(message));
            ReleaseCatalogue();
        }
        QCOMPARE(QDir(passwordFolder()).entryList(QDir::Files | QDir::Hidden).size(), filesBefore);
        QVERIFY(!QFileInfo::exists(QDir::cleanPath(passwordFolder() + QLatin1Char('/') + id + QStringLiteral(".ini"))));
    }

    // Whatever is in the password file's place, the file written is the user's alone,
    // and nothing a link points to is read or changed.
    void passwordFileIsAlwaysPrivate_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::newRow("nothing") << "";
        QTest::newRow("a file readable by all") << "file 0666";
        QTest::newRow("a read-only file") << "file 0444";
        QTest::newRow("a link to another file") << "link";
        QTest::newRow("a link to nowhere") << "dangling";
    }
    void passwordFileIsAlwaysPrivate()
    {
        QFETCH(QString, planted);
        PG_SERVER_OR_SKIP(server);
        freshDatabase();
        const QString file = LocalPasswords::FileFor(query(QStringLiteral("SELECT catalogue_id FROM catalogue_schema")));
        QTemporaryDir elsewhere;
        const QString other = elsewhere.filePath(QStringLiteral("other.ini"));
        const QByteArray otherBytes = "[Server1]\r\nPassword=00\r\n";
        if (planted.startsWith(QLatin1String("file"))) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.close();
            QVERIFY(::chmod(QFile::encodeName(file).constData(), mode_t(planted.mid(5).toInt(nullptr, 8))) == 0);
        } else if (planted == QLatin1String("link") || planted == QLatin1String("dangling")) {
            if (planted == QLatin1String("link")) {
                QFile f(other);
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write(otherBytes);
            }
            QVERIFY(QFile::link(other, file));
        }
        load();
        const int id = AddSvrItem(TestSettings(QStringLiteral("127.0.0.1"), QStringLiteral("秘密")), -1, {})->Id;
        QVERIFY(S_ISREG(modeOf(file)));
        QCOMPARE(modeOf(file) & 07777, mode_t(0600));
        if (planted == QLatin1String("link")) {
            QFile f(other);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), otherBytes);
        } else {
            QVERIFY(!QFileInfo::exists(other));
        }
        ReleaseCatalogue();
        load();
        QCOMPARE(GetSvrItem(id)->ClntSett.Password, QStringLiteral("秘密"));
        QFile::remove(file);
    }

    // Rows inserted by a script with ids of its own choosing (the largest plus one)
    // before and between the program's adds: every add still succeeds, with an id
    // of its own, and the sequences end up past every id in use.
    void addsSurviveIdsChosenOutside()
    {
        PG_SERVER_OR_SKIP(server);
        freshDatabase();
        load();
        AddGroup(QStringLiteral("first"));
        AddSvrItem(TestSettings(QStringLiteral("127.0.0.1")), -1, {});
        const QString script = QStringLiteral(
            "INSERT INTO catalogue_group (id, name) SELECT max(id) + 1, 'script' FROM catalogue_group;"
            " INSERT INTO catalogue_server (id, address) SELECT max(id) + 1, '127.0.0.2' FROM catalogue_server");
        for (int i = 0; i < 5; ++i)
            QVERIFY(server->sql(name, script));
        QSet<int> groupIds, serverIds;
        for (int i = 0; i < 30; ++i) {
            QVERIFY(server->sql(name, script));
            const QString message = errorOf([&] {
                groupIds.insert(AddGroup(QStringLiteral("g%1").arg(i)));
                serverIds.insert(AddSvrItem(TestSettings(QStringLiteral("127.0.0.3")), -1, QString::number(i))->Id);
            });
            QVERIFY2(message.isEmpty(), qPrintable(message));
        }
        QCOMPARE(groupIds.size(), 30);
        QCOMPARE(serverIds.size(), 30);
        QCOMPARE(query(QStringLiteral("SELECT count(*) FROM catalogue_server WHERE description <> ''")), QStringLiteral("30"));
        QCOMPARE(query(QStringLiteral("SELECT count(*) FROM catalogue_group WHERE name LIKE 'g%'")), QStringLiteral("30"));
        QCOMPARE(query(QStringLiteral("SELECT last_value >= (SELECT max(id) FROM catalogue_server) FROM catalogue_server_id_seq")),
                 QStringLiteral("t"));
    }

    // Texts far longer than the program takes, in a database whose tables have no
    // bound yet: they load cut to the bound, and the tables take no new ones.
    void longTextsAreBounded()
    {
        PG_SERVER_OR_SKIP(server);
        freshDatabase(2);
        QVERIFY(server->sql(name, QStringLiteral("INSERT INTO catalogue_group (name) VALUES (repeat('组', 30000000));"
                                                 " INSERT INTO catalogue_server (group_id, description, address, user_name)"
                                                 " VALUES (1, repeat('描', 30000000), repeat('a', 30000000), 'u')")));
        QElapsedTimer clock;
        clock.start();
        load();
        qInfo("first load with 30-million-character texts: %lld ms", clock.elapsed());
        const PSvrItem s = GetSvrItem(1);
        QVERIFY(s);
        QCOMPARE(s->Description, QStringLiteral("描").repeated(CatalogueTextLimit));
        QCOMPARE(s->ClntSett.Server, QStringLiteral("a").repeated(CatalogueTextLimit));
        QCOMPARE(s->ClntSett.User, QStringLiteral("u"));
        QCOMPARE(GetGroup(1).GroupName, QStringLiteral("组").repeated(CatalogueTextLimit));
        QCOMPARE(s->Group.GroupName, GetGroup(1).GroupName);

        const QString longest = QStringLiteral("长").repeated(CatalogueTextLimit);
        QCOMPARE(AddSvrItem(TestSettings(longest), -1, longest)->Description, longest);
        QCOMPARE(GetGroup(AddGroup(longest)).GroupName, longest);
        for (const auto &[what, tooLong] : std::vector<std::pair<const char *, std::function<void()>>>{
                 {"description", [&] { AddSvrItem(TestSettings(QStringLiteral("h")), -1, longest + QLatin1Char('x')); }},
                 {"address", [&] { AddSvrItem(TestSettings(longest + QLatin1Char('x')), -1, {}); }},
                 {"group", [&] { AddGroup(longest + QLatin1Char('x')); }},
                 {"rename", [&] { RenameGroup(1, longest + QLatin1Char('x')); }}}) {
            const QString message = errorOf(tooLong);
            QVERIFY2(message.contains(QStringLiteral("_lengths")), qPrintable(QLatin1String(what) + QLatin1Char(' ') + message));
        }
        // The cut row itself can be saved again, as the program shows it.
        UpdateSvrItem(1, s->ClntSett, s->Description);
        QCOMPARE(query(QStringLiteral("SELECT char_length(description) FROM catalogue_server WHERE id = 1")),
                 QString::number(CatalogueTextLimit));
    }
};

QTEST_GUILESS_MAIN(TestCatalogueDefence)
#include "tst_cataloguedefence.moc"
