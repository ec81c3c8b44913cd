#include "CommandLine.h"
#include "RdpCommon.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void databaseOption_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("database");
        QTest::addColumn<bool>("mistake");
        const QString pg = QStringLiteral("postgresql://ops@db.example:5433/catalogue");
        QTest::newRow("database") << QStringList{QStringLiteral("brennic"), QStringLiteral("--database"), pg} << pg << false;
        QTest::newRow("database=") << QStringList{QStringLiteral("brennic"), QStringLiteral("--database=") + pg} << pg << false;
        QTest::newRow("socket folder") << QStringList{QStringLiteral("brennic"), QStringLiteral("--database=postgres://ops@localhost/c?host=/run/postgresql")}
                                       << QStringLiteral("postgres://ops@localhost/c?host=/run/postgresql") << false;
        QTest::newRow("no address") << QStringList{QStringLiteral("brennic"), QStringLiteral("--database")} << QString() << true;
        QTest::newRow("not postgresql") << QStringList{QStringLiteral("brennic"), QStringLiteral("--database"), QStringLiteral("mysql://h/d")} << QString() << true;
        QTest::newRow("with a file") << QStringList{QStringLiteral("brennic"), QStringLiteral("--file=/a.ini"), QStringLiteral("--database"), pg} << pg << true;
    }
    void databaseOption()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, database);
        QFETCH(bool, mistake);
        const ServerListOptions options = ParseServerListOptions(arguments);
        QCOMPARE(!options.error.isEmpty(), mistake);
        if (!mistake)
            QCOMPARE(options.database, database);
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("help");
        QTest::addColumn<bool>("version");
        QTest::addColumn<bool>("mistake");
        const QString here = QDir::currentPath();
        QTest::newRow("nothing") << QStringList{QStringLiteral("brennic")} << QStringLiteral("") << false << false << false;
        QTest::newRow("file") << QStringList{QStringLiteral("brennic"), QStringLiteral("--file"), QStringLiteral("/srv/list.ini")} << QStringLiteral("/srv/list.ini") << false << false << false;
        QTest::newRow("file=") << QStringList{QStringLiteral("brennic"), QStringLiteral("--file=/srv/list.ini")} << QStringLiteral("/srv/list.ini") << false << false << false;
        QTest::newRow("relative file") << QStringList{QStringLiteral("brennic"), QStringLiteral("--file"), QStringLiteral("my.ini")} << here + QStringLiteral("/my.ini") << false << false << false;
        QTest::newRow("toolkit arguments left alone")
            << QStringList{QStringLiteral("brennic"), QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--no-sandbox"), QStringLiteral("--file"), QStringLiteral("/a.ini")} << QStringLiteral("/a.ini") << false
            << false << false;
        QTest::newRow("help") << QStringList{QStringLiteral("brennic"), QStringLiteral("--help")} << QStringLiteral("") << true << false << false;
        QTest::newRow("version") << QStringList{QStringLiteral("brennic"), QStringLiteral("--version")} << QStringLiteral("") << false << true << false;
        QTest::newRow("-v") << QStringList{QStringLiteral("brennic"), QStringLiteral("-v")} << QStringLiteral("") << false << true << false;
        QTest::newRow("file without a path") << QStringList{QStringLiteral("brennic"), QStringLiteral("--file")} << QStringLiteral("") << false << false << true;
        QTest::newRow("empty path") << QStringList{QStringLiteral("brennic"), QStringLiteral("--file=")} << QStringLiteral("") << false << false << true;
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, file);
        QFETCH(bool, help);
        QFETCH(bool, version);
        QFETCH(bool, mistake);
        const ServerListOptions options = ParseServerListOptions(arguments);
        QCOMPARE(options.file, file);
        QCOMPARE(options.help, help);
        QCOMPARE(options.version, version);
        QCOMPARE(!options.error.isEmpty(), mistake);
    }

    // The file chosen on the command line is the one in use and the one shown.
    void chosenFileIsInUse()
    {
        QTemporaryDir dir;
        const QByteArray file = QFile::encodeName(dir.filePath(QStringLiteral("chosen.ini")));
        QByteArray program("brennic"), option("--file");
        char *argv[] = {program.data(), option.data(), const_cast<char *>(file.constData()), nullptr};
        QCOMPARE(ApplyServerListOptions(3, argv), std::nullopt);
        QCOMPARE(ServerListFilePath(), dir.filePath(QStringLiteral("chosen.ini")));
        AddGroup(QStringLiteral("g"));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("chosen.ini"))));
        ReleaseCatalogue();
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
