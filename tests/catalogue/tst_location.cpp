#include "RdpCommon.h"
#include "ServerListLocation.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class TestLocation : public QObject {
    Q_OBJECT

private slots:
    // Beside the program when a file is there; otherwise in the user's
    // configuration folder, which is made for the user alone. A writable program
    // folder (a build tree) is no reason to keep the list there.
    void defaultFile_data()
    {
        QTest::addColumn<bool>("writableFolder");
        QTest::addColumn<QString>("present");       // "", "file" or "link"
        QTest::addColumn<QString>("xdgConfigHome"); // "@" stands for the test's own folder
        QTest::addColumn<QString>("expected");      // "beside", or the path below the test's folder
        QTest::newRow("writable folder") << true << ""
                                         << "@/config"
                                         << "config/brennic/SvrList.ini";
        QTest::newRow("file in a writable folder") << true << "file"
                                                   << "@/config"
                                                   << "beside";
        QTest::newRow("file in a read-only folder") << false << "file"
                                                    << "@/config"
                                                    << "beside";
        QTest::newRow("link in a read-only folder") << false << "link"
                                                    << "@/config"
                                                    << "beside";
        QTest::newRow("read-only folder") << false << ""
                                          << "@/config"
                                          << "config/brennic/SvrList.ini";
        QTest::newRow("no XDG_CONFIG_HOME") << false << ""
                                            << ""
                                            << "home/.config/brennic/SvrList.ini";
        QTest::newRow("relative XDG_CONFIG_HOME") << false << ""
                                                  << "config"
                                                  << "home/.config/brennic/SvrList.ini";
    }
    void defaultFile()
    {
        QFETCH(bool, writableFolder);
        QFETCH(QString, present);
        QFETCH(QString, xdgConfigHome);
        QFETCH(QString, expected);
        QTemporaryDir root;
        const QString program = root.filePath(QStringLiteral("program"));
        QVERIFY(QDir().mkdir(program));
        const QString beside = program + QStringLiteral("/SvrList.ini");
        if (present == QStringLiteral("file")) {
            QFile file(beside);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (present == QStringLiteral("link")) {
            QVERIFY(::symlink("/nonexistent/SvrList.ini", QFile::encodeName(beside).constData()) == 0);
        }
        if (!writableFolder)
            QVERIFY(::chmod(QFile::encodeName(program).constData(), 0555) == 0);
        const QByteArray savedHome = qgetenv("HOME");
        const QByteArray savedXdg = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", QFile::encodeName(root.filePath(QStringLiteral("home"))));
        if (xdgConfigHome.isEmpty())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(QString(xdgConfigHome).replace(QLatin1Char('@'), root.path())));

        const QString chosen = DefaultServerListFile(program);

        qputenv("HOME", savedHome);
        savedXdg.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", savedXdg);
        ::chmod(QFile::encodeName(program).constData(), 0755);
        if (expected == QStringLiteral("beside")) {
            QCOMPARE(chosen, beside);
            return;
        }
        QCOMPARE(chosen, root.filePath(expected));
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(QFileInfo(chosen).absolutePath()).constData(), &st) == 0);
        QCOMPARE(unsigned(st.st_mode & 0777), 0700u);
        QVERIFY(!QFile::exists(chosen)); // the file itself waits for the first change
    }

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
            << QStringList{QStringLiteral("brennic"), QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--no-sandbox"), QStringLiteral("--file"), QStringLiteral("/a.ini")} << QStringLiteral("/a.ini") << false << false << false;
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

QTEST_GUILESS_MAIN(TestLocation)
#include "tst_location.moc"
