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
};

QTEST_GUILESS_MAIN(TestLocation)
#include "tst_location.moc"
