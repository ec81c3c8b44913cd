#include "CatalogueDump.h"
#include "IniEncoding.h"
#include "ScriptedOperations.h"
#include "TempCatalogue.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>
#include <QThread>

#include <csignal>

namespace {

constexpr int kOperations = 1000;
constexpr int kRounds = 40;

QString writerPath() { return QStringLiteral(BRENNIC_CATALOGUE_WRITER); }

} // namespace

class TestCrash : public QObject {
    Q_OBJECT

    // The file after each number of finished operations, made by running the
    // same sequence in this process.
    QList<QByteArray> states;

private slots:
    void initTestCase()
    {
        TempCatalogue shadow;
        ReloadCatalogue(shadow.path());
        states << shadow.read();
        for (int n = 1; n <= kOperations; ++n) {
            ApplyScriptedOperation(n);
            states << shadow.read();
        }
        ReleaseCatalogue();
        QVERIFY(DecodeIniText(states.last()).text.contains(QStringLiteral("MaxServerId=")));
    }

    // Killed at any moment, a writer leaves the file as it was before or after a
    // whole operation, and nothing it had finished is lost.
    void killedWriterLeavesAWholeState()
    {
        TempCatalogue victim;
        QRandomGenerator random(20261210);
        int done = 0;
        int kills = 0;
        int unreported = 0; // killed after finishing an operation, before reporting it
        int midWrite = 0;   // killed with its temporary file written but not yet renamed
        for (int round = 0; round < kRounds && done < kOperations; ++round) {
            QProcess writer;
            writer.start(writerPath(), {QStringLiteral("script"), victim.path(), QString::number(done), QString::number(kOperations)});
            QVERIFY(writer.waitForStarted(5000));
            QVERIFY2(writer.waitForReadyRead(10000), "writer reported nothing");
            QThread::usleep(random.bounded(5000));
            ::kill(pid_t(writer.processId()), SIGKILL);
            QVERIFY(writer.waitForFinished(10000));
            if (writer.exitStatus() == QProcess::CrashExit)
                ++kills;

            const QList<QByteArray> reported = writer.readAllStandardOutput().split('\n');
            int last = done;
            for (const QByteArray &line : reported)
                if (!line.isEmpty())
                    last = line.toInt();
            const QByteArray file = victim.read();
            const int found = states.indexOf(file, last);
            QVERIFY2(found == last || found == last + 1,
                     qPrintable(QStringLiteral("round %1: reported %2, file matches state %3").arg(round).arg(last).arg(found)));
            unreported += found == last + 1;
            midWrite += QDir(victim.folder()).entryList(QDir::Files | QDir::Hidden).size() > 1;
            ReloadCatalogue(victim.path());
            QVERIFY(GetSvrList().Count() > 0 || last < 2);
            ReleaseCatalogue();
            done = found;
        }
        qInfo("%d kills (%d before reporting, %d amid a write), %d of %d operations done", kills, unreported,
              midWrite, done, kOperations);
        QVERIFY2(kills > kRounds / 2, "the writer was hardly ever killed mid-run");

        // A later change clears what the killed writers left behind.
        ReloadCatalogue(victim.path());
        AddGroup(QStringLiteral("after"));
        ReleaseCatalogue();
        QCOMPARE(QDir(victim.folder()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("SvrList.ini")});
    }

    // Two copies of the program adding servers at the same time lose nothing and
    // never hand out the same id.
    void concurrentWritersShareTheFile()
    {
        TempCatalogue shared;
        constexpr int kEach = 40;
        QProcess first, second;
        first.start(writerPath(), {QStringLiteral("add"), shared.path(), QStringLiteral("first"), QString::number(kEach)});
        second.start(writerPath(), {QStringLiteral("add"), shared.path(), QStringLiteral("second"), QString::number(kEach)});
        QVERIFY(first.waitForFinished(60000) && second.waitForFinished(60000));
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(second.exitCode(), 0);

        ReloadCatalogue(shared.path());
        QSet<int> ids;
        QSet<QString> descriptions;
        for (const auto &server : GetSvrList()) {
            ids.insert(server->Id);
            descriptions.insert(server->Description);
        }
        QCOMPARE(GetSvrList().Count(), 2 * kEach);
        QCOMPARE(ids.size(), 2 * kEach);
        QCOMPARE(descriptions.size(), 2 * kEach);
        QCOMPARE(MaxServerId, 2 * kEach);
        ReleaseCatalogue();
    }
};

QTEST_GUILESS_MAIN(TestCrash)
#include "tst_crash.moc"
