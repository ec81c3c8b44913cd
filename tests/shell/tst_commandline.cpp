#include "CommandLine.h"
#include "AppError.h"
#include "RdpCommon.h"
#include "SessionLaunch.h"

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

    // Sessions to open: addresses and connection files, any number of each in their
    // order, up to a bound, and not with an import. "a:" marks an address, "f:" a file.
    void sessionOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("sessions");
        QTest::addColumn<bool>("mistake");
        const QString b = QStringLiteral("brennic");
        const QString here = QDir::currentPath();
        QTest::newRow("--connect") << QStringList{b, QStringLiteral("--connect"), QStringLiteral("h:3390")} << QStringList{QStringLiteral("a:h:3390")} << false;
        QTest::newRow("--connect=") << QStringList{b, QStringLiteral("--connect=[::1]:3390")} << QStringList{QStringLiteral("a:[::1]:3390")} << false;
        QTest::newRow("file") << QStringList{b, QStringLiteral("/srv/a b.rdp")} << QStringList{QStringLiteral("f:/srv/a b.rdp")} << false;
        QTest::newRow("relative file, any case") << QStringList{b, QStringLiteral("x.RDP")} << QStringList{QStringLiteral("f:") + here + QStringLiteral("/x.RDP")} << false;
        QTest::newRow("toolkit arguments around a file")
            << QStringList{b, QStringLiteral("-platform"), QStringLiteral("xcb"), QStringLiteral("/a.rdp")} << QStringList{QStringLiteral("f:/a.rdp")} << false;
        QTest::newRow("not a connection file") << QStringList{b, QStringLiteral("/a.txt")} << QStringList() << false;
        QTest::newRow("two files") << QStringList{b, QStringLiteral("/a.rdp"), QStringLiteral("/b.rdp")} << QStringList{QStringLiteral("f:/a.rdp"), QStringLiteral("f:/b.rdp")} << false;
        QTest::newRow("the same address twice")
            << QStringList{b, QStringLiteral("--connect=h"), QStringLiteral("--connect"), QStringLiteral("h")} << QStringList{QStringLiteral("a:h"), QStringLiteral("a:h")} << false;
        QTest::newRow("files and addresses mixed, in order")
            << QStringList{b, QStringLiteral("/a.rdp"), QStringLiteral("--connect=h"), QStringLiteral("/b.rdp"), QStringLiteral("--connect"), QStringLiteral("g:1")}
            << QStringList{QStringLiteral("f:/a.rdp"), QStringLiteral("a:h"), QStringLiteral("f:/b.rdp"), QStringLiteral("a:g:1")} << false;
        QStringList most{b};
        QStringList mostSessions;
        for (int i = 0; i < MaxCommandLineSessions; ++i) {
            most << QStringLiteral("--connect=h%1").arg(i);
            mostSessions << QStringLiteral("a:h%1").arg(i);
        }
        QTest::newRow("the most sessions") << most << mostSessions << false;
        QTest::newRow("one session too many") << (QStringList(most) << QStringLiteral("/z.rdp")) << QStringList() << true;
        QTest::newRow("--connect without an address") << QStringList{b, QStringLiteral("--connect")} << QStringList() << true;
        QTest::newRow("--connect of blanks") << QStringList{b, QStringLiteral("--connect= ")} << QStringList() << true;
        QTest::newRow("a second --connect without an address") << QStringList{b, QStringLiteral("--connect=h"), QStringLiteral("--connect")} << QStringList() << true;
        QTest::newRow("with --import") << QStringList{b, QStringLiteral("--connect=h"), QStringLiteral("--import=/x.ini")} << QStringList() << true;
    }
    void sessionOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, sessions);
        QFETCH(bool, mistake);
        const ServerListOptions options = ParseServerListOptions(arguments);
        QCOMPARE(!options.error.isEmpty(), mistake);
        if (mistake)
            return;
        QStringList read;
        for (const SessionRequest &request : options.sessions)
            read << (request.kind == SessionRequest::Kind::File ? QStringLiteral("f:") : QStringLiteral("a:")) + request.value;
        QCOMPARE(read, sessions);
        QCOMPARE(options.OpensSession(), !sessions.isEmpty());
    }

    // What an address or a connection file gives a session; what cannot be used is refused with why.
    void sessionSettings_data()
    {
        QTest::addColumn<QString>("address"); // used when content is null
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("settings"); // server|port|user|WxH|bpp, or the start of the refusal
        QTest::newRow("host") << QStringLiteral(" rdp.example.test ") << QByteArray() << QStringLiteral("rdp.example.test|3389||1024x768|24");
        QTest::newRow("host:port") << QStringLiteral("127.0.0.1:3390") << QByteArray() << QStringLiteral("127.0.0.1|3390||1024x768|24");
        QTest::newRow("IPv6 with port") << QStringLiteral("[::1]:3391") << QByteArray() << QStringLiteral("::1|3391||1024x768|24");
        QTest::newRow("blank before a port") << QStringLiteral("127.0.0.1:33890 x") << QByteArray() << QStringLiteral("无效的服务器地址: 127.0.0.1:33890 x\n地址中不能有空格");
        QTest::newRow("descriptor") << QStringLiteral("|0") << QByteArray() << QStringLiteral("无效的服务器地址: |0\n地址不能以");
        QTest::newRow("port 0") << QStringLiteral("h:0") << QByteArray() << QStringLiteral("无效的服务器地址: h:0\n请写成");
        QTest::newRow("empty host") << QStringLiteral(":3389") << QByteArray() << QStringLiteral("无效的服务器地址: :3389\n请写成");
        QTest::newRow("file") << QString() << QByteArray("full address:s:h:3392\nusername:s:D\\u\ndesktopwidth:i:1280\ndesktopheight:i:1024\nsession bpp:i:16\n")
                              << QStringLiteral("h|3392|u|1280x1024|16");
        QTest::newRow("file, sizes brought within") << QString() << QByteArray("full address:s:h\ndesktopwidth:i:100000\ndesktopheight:i:10\n")
                                                    << QStringLiteral("h|3389||8192x200|24");
        QTest::newRow("file, no address") << QString() << QByteArray("username:s:u\n") << QStringLiteral("无法打开连接文件 FILE\n没有服务器地址");
        QTest::newRow("file, blank in the address") << QString() << QByteArray("full address:s:h x\n")
                                                    << QStringLiteral("无法打开连接文件 FILE\n服务器地址“h x”无效：地址中不能有空格");
        QTest::newRow("file, no settings") << QString() << QByteArray("hello\n") << QStringLiteral("无法打开连接文件 FILE\n");
        QTest::newRow("file, too large") << QString() << QByteArray(MaxSessionFileSize + 1, '\n') << QStringLiteral("无法打开连接文件 FILE\n");
    }
    void sessionSettings()
    {
        QFETCH(QString, address);
        QFETCH(QByteArray, content);
        QFETCH(QString, settings);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("s.rdp"));
        QString got;
        try {
            TClientSettings s;
            if (content.isNull()) {
                s = SessionFromAddress(address);
            } else {
                QFile out(file);
                QVERIFY(out.open(QIODevice::WriteOnly));
                out.write(content);
                out.close();
                s = SessionFromRdpFile(file);
            }
            got = QStringLiteral("%1|%2|%3|%4x%5|%6").arg(s.Server).arg(s.Port).arg(s.User).arg(s.Width).arg(s.Height).arg(s.ColorDepth);
        } catch (const AppError &error) {
            got = error.message();
        }
        settings.replace(QStringLiteral("FILE"), file);
        QVERIFY2(got.startsWith(settings), qPrintable(got));
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
