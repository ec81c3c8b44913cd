// Two copies of the program on one shared catalogue: each sees the other's
// changes row by row within a second, and a lost database server leaves the
// list readable, refuses changes, and is connected to again by itself.
#include "AppError.h"
#include "CatalogueDump.h"
#include "CatalogueEvents.h"
#include "LocalPasswords.h"
#include "PgServer.h"
#include "RdpCommon.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

namespace {

constexpr int kWithin = 1000; // ms a change may take to show at the other copy

} // namespace

class TestCatalogueLive : public QObject {
    Q_OBJECT

    std::unique_ptr<PgServer> server;
    QTemporaryDir config;
    QString address;
    int databases = 0;
    std::unique_ptr<QProcess> peer;
    QStringList peerLines;
    QStringList events; // what this copy saw, "<what> <id>"

    void readPeer()
    {
        while (peer->canReadLine())
            peerLines << QString::fromUtf8(peer->readLine()).trimmed();
    }

    // The first line of the peer that starts with prefix, waited for (and taken) up to timeoutMs.
    QString peerLine(const QString &prefix, int timeoutMs = 10000)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            readPeer();
            for (qsizetype i = 0; i < peerLines.size(); ++i)
                if (peerLines[i].startsWith(prefix))
                    return peerLines.takeAt(i);
            QTest::qWait(5);
        }
        return {};
    }

    // Runs a command at the peer; its answer's id, or -1.
    int atPeer(const QString &command)
    {
        peer->write(command.toUtf8() + '\n');
        const QString answer = peerLine(QStringLiteral("ok"));
        return answer.size() > 3 ? answer.mid(3).toInt() : -1;
    }

    // Waits for this copy to see the change; the time it took, or -1.
    qint64 seenHere(const QString &what)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            if (events.removeOne(what))
                return clock.elapsed();
            QTest::qWait(2);
        }
        return -1;
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        server = PgServer::StartIfRunnable();
        CatalogueEvents &e = CatalogueEvents::Instance();
        const auto note = [this](const char *what, int id) { events << QStringLiteral("%1 %2").arg(QLatin1String(what)).arg(id); };
        connect(&e, &CatalogueEvents::GroupAdded, this, [=](int id) { note("group-added", id); });
        connect(&e, &CatalogueEvents::GroupRenamed, this, [=](int id, const QString &) { note("group-renamed", id); });
        connect(&e, &CatalogueEvents::GroupDeleted, this, [=](int id) { note("group-deleted", id); });
        connect(&e, &CatalogueEvents::ServerAdded, this, [=](PSvrItem s) { note("server-added", s->Id); });
        connect(&e, &CatalogueEvents::ServerChanged, this, [=](PSvrItem s) { note("server-changed", s->Id); });
        connect(&e, &CatalogueEvents::ServerMoved, this, [=](PSvrItem s, int) { note("server-moved", s->Id); });
        connect(&e, &CatalogueEvents::ServerDeleting, this, [=](PSvrItem s) { note("server-deleted", s->Id); });
    }
    void cleanupTestCase() { server.reset(); }

    void init()
    {
        PG_SERVER_OR_SKIP(server);
        const QString name = QStringLiteral("live%1").arg(++databases);
        QVERIFY(server->createDatabase(name));
        address = server->address(name);
        UseDatabase(address);
        LoadGroups();
        LoadServers();
        events.clear();
        peerLines.clear();
        peer = std::make_unique<QProcess>();
        peer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        peer->start(QStringLiteral(BRENNIC_CATALOGUE_PEER), {address});
        QVERIFY(!peerLine(QStringLiteral("ready")).isEmpty());
    }
    void cleanup()
    {
        if (peer) {
            peer->closeWriteChannel();
            if (!peer->waitForFinished(5000))
                peer->kill();
            peer->waitForFinished(2000);
            peer.reset();
        }
        ReleaseCatalogue();
    }

    // What a colleague does shows here, row by row, without reloading the list.
    void colleaguesChangesShowHere()
    {
        const int g = atPeer(QStringLiteral("addgroup 机房"));
        QVERIFY(g > 0);
        const qint64 groupAdded = seenHere(QStringLiteral("group-added %1").arg(g));
        const int s = atPeer(QStringLiteral("add 127.0.0.7"));
        const qint64 serverAdded = seenHere(QStringLiteral("server-added %1").arg(s));
        QVERIFY(GetSvrItem(s));
        const PSvrItem record = GetSvrItem(s); // the same record all along: nothing is reloaded
        QCOMPARE(record->ClntSett.Server, QStringLiteral("127.0.0.7"));
        QCOMPARE(record->Group, (TSvrGroup{-1, QStringLiteral("未分组")}));

        atPeer(QStringLiteral("update %1 新描述").arg(s));
        const qint64 changed = seenHere(QStringLiteral("server-changed %1").arg(s));
        QCOMPARE(record->Description, QStringLiteral("新描述"));
        atPeer(QStringLiteral("move %1 机房").arg(s));
        const qint64 moved = seenHere(QStringLiteral("server-moved %1").arg(s));
        QCOMPARE(record->Group, (TSvrGroup{g, QStringLiteral("机房")}));
        atPeer(QStringLiteral("rename %1 新机房").arg(g));
        const qint64 renamed = seenHere(QStringLiteral("group-renamed %1").arg(g));
        QCOMPARE(GetGroup(g).GroupName, QStringLiteral("新机房"));
        QCOMPARE(record->Group.GroupName, QStringLiteral("新机房"));
        QCOMPARE(GetSvrItem(s), record);
        atPeer(QStringLiteral("delete %1").arg(s));
        const qint64 deleted = seenHere(QStringLiteral("server-deleted %1").arg(s));
        QCOMPARE(GetSvrItem(s), nullptr);
        atPeer(QStringLiteral("delgroup %1").arg(g));
        const qint64 groupDeleted = seenHere(QStringLiteral("group-deleted %1").arg(g));
        QCOMPARE(GetSvrGroups().Count(), 0);

        for (qint64 took : {groupAdded, serverAdded, changed, moved, renamed, deleted, groupDeleted}) {
            QVERIFY(took >= 0);
            QVERIFY2(took < kWithin, qPrintable(QStringLiteral("%1 ms").arg(took)));
        }
        QVERIFY2(events.isEmpty(), qPrintable(events.join(QLatin1Char(','))));
    }

    // What this copy does shows at the colleague; this copy is not told its own changes.
    void ownChangesShowAtTheColleague()
    {
        QElapsedTimer clock;
        const auto atColleague = [&](const QString &what) {
            const QString line = peerLine(QStringLiteral("seen ") + what, 5000);
            return line.isEmpty() ? qint64(-1) : clock.elapsed();
        };
        clock.start();
        const int g = AddGroup(QStringLiteral("运维"));
        QVERIFY(atColleague(QStringLiteral("group-added %1").arg(g)) < kWithin);
        clock.restart();
        PSvrItem s = AddSvrItem(TClientSettings{}, -1, QStringLiteral("d"));
        const int id = s->Id;
        QVERIFY(atColleague(QStringLiteral("server-added %1").arg(id)) < kWithin);
        clock.restart();
        UpdateSvrItem(id, s->ClntSett, QStringLiteral("changed"));
        QVERIFY(atColleague(QStringLiteral("server-changed %1").arg(id)) < kWithin);
        clock.restart();
        MoveSvrItem(s, QStringLiteral("运维"));
        QVERIFY(atColleague(QStringLiteral("server-moved %1").arg(id)) < kWithin);
        clock.restart();
        RenameGroup(g, QStringLiteral("运维二"));
        QVERIFY(atColleague(QStringLiteral("group-renamed %1").arg(g)) < kWithin);
        clock.restart();
        DeleteSvrItem(s);
        QVERIFY(atColleague(QStringLiteral("server-deleted %1").arg(id)) < kWithin);
        clock.restart();
        DeleteGroup(g);
        QVERIFY(atColleague(QStringLiteral("group-deleted %1").arg(g)) < kWithin);
        QTest::qWait(100);
        QVERIFY2(events.isEmpty(), qPrintable(events.join(QLatin1Char(','))));
    }

    // Editing a server a colleague has deleted: a clear error, and the record stays
    // in memory until the list takes the deletion.
    void updatingADeletedServerSaysSo()
    {
        PSvrItem s = AddSvrItem(TClientSettings{}, -1, {});
        const int id = s->Id;
        QVERIFY(server->sql(address.section(QLatin1Char('/'), 3).section(QLatin1Char('?'), 0, 0),
                            QStringLiteral("DELETE FROM catalogue_server WHERE id = %1").arg(id)));
        // Changed before the deletion arrives here.
        try {
            UpdateSvrItem(id, s->ClntSett, QStringLiteral("mine"));
            QFAIL("no error");
        } catch (const EServerGone &gone) {
            QCOMPARE(gone.ServerId(), id);
            QVERIFY(gone.message().contains(QStringLiteral("已被其他管理员删除")));
        }
        QVERIFY(seenHere(QStringLiteral("server-deleted %1").arg(id)) >= 0);
        QCOMPARE(GetSvrItem(id), nullptr);
    }

    // Anyone who may connect may notify: a forged announcement of an add, change,
    // move or delete changes nothing while the rows in the database say otherwise,
    // whether it comes from a role without any right on the tables or from a member.
    void forgedNotificationsChangeNothing()
    {
        const int g = AddGroup(QStringLiteral("组"));
        const int s = AddSvrItem(TClientSettings{}, g, QStringLiteral("d"))->Id;
        const int other = AddSvrItem(TClientSettings{}, -1, QStringLiteral("o"))->Id;
        const QString before = DumpCatalogue();
        QVERIFY(server->ensureRole(QStringLiteral("stranger")));
        const QString name = address.section(QLatin1Char('/'), 3).section(QLatin1Char('?'), 0, 0);
        QStringList forged;
        for (const char *verb : {"deleted", "added", "changed", "moved"}) {
            forged << QStringLiteral("server %1 %2").arg(QLatin1String(verb)).arg(s);
            forged << QStringLiteral("group %1 %2").arg(QLatin1String(verb)).arg(g);
            forged << QStringLiteral("server %1 999").arg(QLatin1String(verb));
            forged << QStringLiteral("group %1 999").arg(QLatin1String(verb));
        }
        for (const QString &role : {QStringLiteral("stranger"), QStringLiteral("brennic")})
            for (const QString &payload : forged)
                QVERIFY(server->sql(name, QStringLiteral("NOTIFY brennic_catalogue, '%1'").arg(payload), nullptr, role));
        // Notifications arrive in order: once a real change after them shows, they have been dealt with.
        QVERIFY(server->sql(name, QStringLiteral("UPDATE catalogue_server SET description = 'real' WHERE id = %1").arg(other)));
        QVERIFY(seenHere(QStringLiteral("server-changed %1").arg(other)) >= 0);
        GetSvrItem(other)->Description = QStringLiteral("o");
        QCOMPARE(DumpCatalogue(), before);
        QVERIFY2(events.isEmpty(), qPrintable(events.join(QLatin1Char(','))));
        QVERIFY(GetSvrItem(s));
        // A real deletion still shows.
        QVERIFY(server->sql(name, QStringLiteral("DELETE FROM catalogue_server WHERE id = %1").arg(s)));
        QVERIFY(seenHere(QStringLiteral("server-deleted %1").arg(s)) >= 0);
        QCOMPARE(GetSvrItem(s), nullptr);
    }

    // A password the colleague's copy of the program saves for the same user (the
    // same password file) reaches this copy's record without a reload.
    void passwordsSavedByAnotherCopyShowHere()
    {
        const int id = AddSvrItem(TestSettings(QStringLiteral("127.0.0.1"), QStringLiteral("first")), -1, {})->Id;
        QVERIFY(!peerLine(QStringLiteral("seen server-added %1").arg(id)).isEmpty());
        QCOMPARE(atPeer(QStringLiteral("password %1 第二个").arg(id)), -1);
        QVERIFY(seenHere(QStringLiteral("server-changed %1").arg(id)) >= 0);
        QCOMPARE(GetSvrItem(id)->ClntSett.Password, QStringLiteral("第二个"));
        QCOMPARE(atPeer(QStringLiteral("password %1 ").arg(id)), -1); // erased
        QVERIFY(seenHere(QStringLiteral("server-changed %1").arg(id)) >= 0);
        QCOMPARE(GetSvrItem(id)->ClntSett.Password, QString());
        // Written to the file alone, with no change of the row to announce it.
        QString catalogueId;
        QVERIFY(server->sql(address.section(QLatin1Char('/'), 3).section(QLatin1Char('?'), 0, 0),
                            QStringLiteral("SELECT catalogue_id FROM catalogue_schema"), &catalogueId));
        LocalPasswords(LocalPasswords::FileFor(catalogueId)).set({{id, QStringLiteral("从文件来")}});
        QVERIFY(seenHere(QStringLiteral("server-changed %1").arg(id)) >= 0);
        QCOMPARE(GetSvrItem(id)->ClntSett.Password, QStringLiteral("从文件来"));
        // This copy's own saves are not announced back to it.
        UpdateSvrItem(id, TestSettings(QStringLiteral("127.0.0.1"), QStringLiteral("third")), {});
        QTest::qWait(1200);
        QVERIFY2(events.isEmpty(), qPrintable(events.join(QLatin1Char(','))));
    }

    // The database server stops while the program runs: the list stays as it was,
    // changes are refused with a clear message, and once the server is back the
    // program connects again by itself and catches up with what changed meanwhile.
    void serverStoppedAndStartedAgain()
    {
        const int g = AddGroup(QStringLiteral("before"));
        QSignalSpy availability(&CatalogueEvents::Instance(), &CatalogueEvents::Availability);
        const QString before = DumpCatalogue();
        QVERIFY(server->stop());
        QTRY_VERIFY_WITH_TIMEOUT(!CatalogueEvents::Instance().Online(), 3000);
        QCOMPARE(availability.first().at(0).toBool(), false);
        QCOMPARE(DumpCatalogue(), before);
        try {
            AddGroup(QStringLiteral("while lost"));
            QFAIL("no error");
        } catch (const AppError &error) {
            QVERIFY2(error.message().contains(QStringLiteral("连接已断开")), qPrintable(error.message()));
        }
        QCOMPARE(DumpCatalogue(), before);

        // Meanwhile a colleague changes the catalogue (on a port this copy does not use).
        const QString name = address.section(QLatin1Char('/'), 3).section(QLatin1Char('?'), 0, 0);
        QVERIFY(server->start(server->port() + 1));
        QVERIFY(server->sql(name, QStringLiteral("INSERT INTO catalogue_server (address) VALUES ('127.0.0.9');"
                                                 " UPDATE catalogue_group SET name = 'after' WHERE id = %1")
                                      .arg(g)));
        QVERIFY(server->stop());
        QVERIFY(server->start(server->port() - 1));
        QTRY_VERIFY_WITH_TIMEOUT(CatalogueEvents::Instance().Online(), 5000);
        QCOMPARE(availability.last().at(0).toBool(), true);
        QCOMPARE(GetGroup(g).GroupName, QStringLiteral("after"));
        QCOMPARE(GetSvrList().Count(), 1);
        QCOMPARE(GetSvrList().Items(0)->ClntSett.Server, QStringLiteral("127.0.0.9"));
        QVERIFY(events.contains(QStringLiteral("group-renamed %1").arg(g)));
        // And it writes again.
        QVERIFY(AddGroup(QStringLiteral("again")) > g);
    }
};

QTEST_GUILESS_MAIN(TestCatalogueLive)
#include "tst_cataloguelive.moc"
