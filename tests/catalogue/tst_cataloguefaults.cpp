// The shared catalogue against the faults a team's database really has: sessions
// ended by an administrator, and a network that goes silent. The database runs
// in this test's own network namespace, where nftables can drop its traffic.
#include "CatalogueEvents.h"
#include "PgServer.h"
#include "PrivateNetwork.h"
#include "RdpCommon.h"
#include "StallMeter.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QString g_whyNoNamespace;
constexpr int kPort = 55433;

bool nft(const QString &script, QString *error)
{
    QProcess process;
    process.start(QStringLiteral("nft"), {QStringLiteral("-f"), QStringLiteral("-")});
    if (!process.waitForStarted(3000)) {
        *error = QStringLiteral("nft did not start");
        return false;
    }
    process.write(script.toUtf8());
    process.closeWriteChannel();
    if (!process.waitForFinished(5000) || process.exitCode() != 0) {
        *error = QString::fromLocal8Bit(process.readAllStandardError());
        return false;
    }
    return true;
}

// Drops every packet to and from the database's port, both ways, without a word:
// what a cable pulled somewhere between the two looks like.
bool silence(bool on, QString *error)
{
    if (!on)
        return nft(QStringLiteral("delete table inet catalogue_cut\n"), error);
    return nft(QStringLiteral("add table inet catalogue_cut\n"
                              "add chain inet catalogue_cut out { type filter hook output priority 0; }\n"
                              "add rule inet catalogue_cut out tcp dport %1 drop\n"
                              "add rule inet catalogue_cut out tcp sport %1 drop\n")
                   .arg(kPort),
               error);
}

QSet<int> idsIn(const PgServer &server, const QString &database)
{
    QString out;
    server.sql(database, QStringLiteral("SELECT id FROM catalogue_server"), &out);
    QSet<int> ids;
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        ids.insert(line.trimmed().toInt());
    return ids;
}

QSet<int> idsLoaded()
{
    QSet<int> ids;
    for (const auto &server : GetSvrList())
        ids.insert(server->Id);
    return ids;
}

} // namespace

class TestCatalogueFaults : public QObject {
    Q_OBJECT

private:
    QTemporaryDir config_;
    std::unique_ptr<PgServer> server_;
    int databases_ = 0;

    QString freshDatabase()
    {
        const QString name = QStringLiteral("faults%1").arg(++databases_);
        return server_->createDatabase(name) ? name : QString();
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
        if (!g_whyNoNamespace.isEmpty())
            QSKIP(qPrintable(g_whyNoNamespace));
        server_ = PgServer::StartIfRunnable();
        if (server_ && server_->ready())
            QVERIFY(server_->restartOnTcp(kPort));
    }
    void cleanupTestCase() { server_.reset(); }
    void cleanup()
    {
        QString ignored;
        silence(false, &ignored);
        ReleaseCatalogue();
    }

    // An administrator ends this copy's session again and again while colleagues
    // change the catalogue and this copy writes: nothing crashes, writes either
    // succeed or say why, and once the sessions are left alone the list is the
    // database's again.
    void backendsEndedDuringCatchUpAndWrites()
    {
        PG_SERVER_OR_SKIP(server_);
        const QString name = freshDatabase();
        QVERIFY(!name.isEmpty());
        UseDatabase(server_->tcpAddress(name));
        LoadGroups();
        LoadServers();
        int refused = 0;
        for (int round = 0; round < 20; ++round) {
            QVERIFY(server_->sql(name, QStringLiteral("INSERT INTO catalogue_server (address) VALUES ('10.0.%1.1')").arg(round)));
            QVERIFY(server_->sql(name, QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                                      "WHERE application_name = 'brennic'")));
            TClientSettings settings;
            settings.Server = QStringLiteral("127.0.0.%1").arg(round + 1);
            try {
                AddSvrItem(settings, UngroupedId, QStringLiteral("round %1").arg(round));
            } catch (const AppError &error) {
                QVERIFY(!error.message().isEmpty());
                ++refused;
            }
            QTest::qWait(round % 3 == 0 ? 50 : 400); // sometimes in the middle of the catch-up
        }
        QTRY_VERIFY_WITH_TIMEOUT(CatalogueEvents::Instance().Online(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(idsLoaded(), idsIn(*server_, name), 10000);
        qInfo("%d of 20 writes refused while the session was being ended", refused);
    }

    // The network to the database goes silent: a write fails with a message within
    // 10 s, the event loop never stalls meanwhile, and the list is writable again
    // once the network is back.
    void silentPartition()
    {
        PG_SERVER_OR_SKIP(server_);
        QString error;
        if (!silence(true, &error) || !silence(false, &error))
            QSKIP(qPrintable(QStringLiteral("needs nft (nftables) to cut the network: ") + error));
        const QString name = freshDatabase();
        QVERIFY(!name.isEmpty());
        UseDatabase(server_->tcpAddress(name));
        LoadGroups();
        LoadServers();
        TClientSettings settings;
        settings.Server = QStringLiteral("127.0.0.1");
        PSvrItem server = AddSvrItem(settings, UngroupedId, QStringLiteral("before"));
        const int id = server->Id;

        QVERIFY2(silence(true, &error), qPrintable(error));
        StallMeter meter;
        QElapsedTimer took;
        took.start();
        QString message;
        try {
            settings.Port = 3390;
            UpdateSvrItem(id, settings, QStringLiteral("during"));
        } catch (const AppError &failure) {
            message = failure.message();
        }
        const qint64 failedAfter = took.elapsed();
        QVERIFY2(!message.isEmpty(), "a write into a silent network must fail");
        QVERIFY2(failedAfter < 10000, qPrintable(QStringLiteral("failed after %1 ms").arg(failedAfter)));
        QCOMPARE(GetSvrItem(id)->Description, QStringLiteral("before"));
        // A silent partition is noticed while idle too.
        QTRY_VERIFY_WITH_TIMEOUT(!CatalogueEvents::Instance().Online(), 8000);
        QVERIFY2(meter.largest() < 100, qPrintable(QStringLiteral("the event loop stalled %1 ms").arg(meter.largest())));
        qInfo("write failed after %lld ms; largest stall %lld ms", failedAfter, meter.largest());

        QVERIFY2(silence(false, &error), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(CatalogueEvents::Instance().Online(), 15000);
        UpdateSvrItem(id, settings, QStringLiteral("after"));
        QString stored;
        QVERIFY(server_->sql(name, QStringLiteral("SELECT description, port FROM catalogue_server WHERE id = %1").arg(id), &stored));
        QCOMPARE(stored.trimmed(), QStringLiteral("after|3390"));
    }
};

int main(int argc, char **argv)
{
    PrivateNetwork::Enter(&g_whyNoNamespace);
    QCoreApplication app(argc, argv);
    TestCatalogueFaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_cataloguefaults.moc"
