// Reading the connection files of other programs, adding their servers to the
// catalogue, and writing servers out as .rdp files.
#include "AppError.h"
#include "IniDocument.h"
#include "RdpFile.h"
#include "ServerExport.h"
#include "ServerImport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {

QString dataFile(const QString &name)
{
    return QDir(QStringLiteral(BRENNIC_TEST_DATA)).filePath(name);
}

// A record as one line: address|port|domain|user|password|WxH|bpp|full|description|group.
QString recordLine(const TImportRecord &r)
{
    const TClientSettings &s = r.Settings;
    return QStringLiteral("%1|%2|%3|%4|%5|%6x%7|%8|%9|")
               .arg(s.Server)
               .arg(s.Port)
               .arg(s.Domain, s.User, s.Password)
               .arg(s.Width)
               .arg(s.Height)
               .arg(s.ColorDepth)
               .arg(s.FullScreen ? QStringLiteral("full") : QStringLiteral("window"))
        + r.Description + u'|' + r.Group;
}

QStringList noteLines(const std::vector<TImportNote> &notes)
{
    QStringList out;
    for (const TImportNote &n : notes)
        out << n.Entry + QStringLiteral(": ") + n.Text;
    return out;
}

QStringList recordLines(const TImportResult &result)
{
    QStringList out;
    for (const TImportRecord &r : result.Records)
        out << recordLine(r);
    return out;
}

// Files this process writes may not grow beyond a size while it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails instead of ending the process
        ::getrlimit(RLIMIT_FSIZE, &fOld);
        rlimit limit = fOld;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &fOld); }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit fOld{};
};

const QString kEncrypted = QStringLiteral("密码已加密，无法读取，未导入密码");

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

} // namespace

class TestImport : public QObject {
    Q_OBJECT

private slots:
    // Every field of every format, each file as its reader maps it.
    void readsFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("records");
        QTest::addColumn<QStringList>("skipped");
        QTest::addColumn<QStringList>("notes");

        QTest::newRow("rdp utf-16 with mark, domain in user name, encrypted password")
            << QStringLiteral("Web server.rdp") << QStringList{QStringLiteral("web1.example.test|3390|CORP|admin||1600x900|16|full|Web server|")}
            << QStringList{} << QStringList{QStringLiteral("Web server: ") + kEncrypted};
        QTest::newRow("rdp utf-8, port and domain of their own, windowed")
            << QStringLiteral("数据库.rdp") << QStringList{QStringLiteral("127.0.0.5|3391|LAB|dba||1280x1024|32|window|数据库|")}
            << QStringList{} << QStringList{};
        QTest::newRow("rdp utf-8 with mark, IPv6, logon name, unknown depth")
            << QStringLiteral("ipv6.rdp") << QStringList{QStringLiteral("::1|3392||ops@lab.test||1024x768|24|window|ipv6|")} << QStringList{}
            << QStringList{QStringLiteral("ipv6: 颜色深度 12 位不可用，改为 24 位")};
        QTest::newRow("rdp without address") << "no-address.rdp" << QStringList{}
                                             << QStringList{QStringLiteral("no-address: 没有服务器地址")} << QStringList{};
        QTest::newRow("remmina, every field")
            << QStringLiteral("web.remmina") << QStringList{QStringLiteral("web2.example.test|3395|CORP|operator||1920x1080|15|full|Web front|Production/Web")}
            << QStringList{} << QStringList{QStringLiteral("Web front: ") + kEncrypted};
        QTest::newRow("remmina, not RDP") << "ssh.remmina" << QStringList{}
                                          << QStringList{QStringLiteral("Jump host: 协议 SSH 不是 RDP")} << QStringList{};
        QTest::newRow("remmina, lower-case protocol, graphics-mode depth, no name")
            << QStringLiteral("gfx.remmina") << QStringList{QStringLiteral("127.0.0.9|3389||||1024x768|32|window|127.0.0.9|")} << QStringList{}
            << QStringList{};
        QTest::newRow("rdg, groups, inherited and profile credentials")
            << "servers.rdg"
            << QStringList{
                   QStringLiteral("web1.lab.test|3390|WEB|webadmin||1280x1024|16|full|Web one|Web"),
                   QStringLiteral("127.0.0.11|3389|OPS|opsuser||800x600|24|window||Web/Inner"),
                   QStringLiteral("127.0.0.12|3389|LAB|labadmin||1024x768|24|window||"),
               }
            << QStringList{QStringLiteral("No address: 没有服务器地址")} << QStringList{QStringLiteral("Web one: ") + kEncrypted, QStringLiteral("127.0.0.11: ") + kEncrypted};
        QTest::newRow("rdg, older layout, clear-text password from the group")
            << "old-layout.rdg"
            << QStringList{QStringLiteral("branch1.example.invalid|3389|BRANCH|branchuser|pl41n|1024x768|24|window|分店一号|Branch")}
            << QStringList{} << QStringList{};
        QTest::newRow("confCons, folders, inheritance, other protocols")
            << "confCons.xml"
            << QStringList{
                   QStringLiteral("reception.office.test|3396|OFFICE|officeuser||1024x768|16|full|Reception PC|Office"),
                   QStringLiteral("127.0.0.13|3389||prn||1024x768|8|window|Printer box|Office"),
                   QStringLiteral("deep.office.test|3389|OFFICE|officeuser||1280x1024|24|window|Deep|Office/Nested"),
               }
            << QStringList{QStringLiteral("Router: 协议 SSH2 不是 RDP"), QStringLiteral("Empty host: 没有服务器地址")} << QStringList{QStringLiteral("Reception PC: ") + kEncrypted};
    }

    void readsFiles()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, records);
        QFETCH(QStringList, skipped);
        QFETCH(QStringList, notes);
        const TImportResult result = ReadImportFile(dataFile(file));
        QCOMPARE(result.Source, file);
        QCOMPARE(recordLines(result), records);
        QCOMPARE(noteLines(result.Skipped), skipped);
        QCOMPARE(noteLines(result.Notes), notes);
    }

    // A damaged or cut-off file gives a message that names it and why, and no result.
    void refusesBadFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("message");
        QTest::newRow("rdp with a damaged number")
            << "bad-number.rdp" << QStringLiteral("无法导入“bad-number.rdp”：第 2 行“desktopwidth”的值“wide”不是整数");
        QTest::newRow("rdp cut off in a character")
            << "truncated.rdp" << QStringLiteral("无法导入“truncated.rdp”：文件不完整（末尾缺少半个字符）");
        QTest::newRow("not an rdp file") << "not-rdp.rdp"
                                         << QStringLiteral("无法导入“not-rdp.rdp”：不是远程桌面连接文件（.rdp），其中没有任何设置");
        QTest::newRow("remmina without its section")
            << "no-section.remmina" << QStringLiteral("无法导入“no-section.remmina”：不是 Remmina 连接文件，其中没有 [remmina] 一节");
        QTest::newRow("rdg cut off") << "truncated.rdg" << QStringLiteral("无法导入“truncated.rdg”：XML 在第");
        QTest::newRow("confCons cut off") << "confCons-truncated.xml" << QStringLiteral("无法导入“confCons-truncated.xml”：XML 在第");
        QTest::newRow("confCons encrypted as a whole")
            << "confCons-encrypted.xml" << QStringLiteral("无法导入“confCons-encrypted.xml”：整个文件已用 mRemoteNG 的主密码加密，无法读取");
        QTest::newRow("missing file") << "no-such-file.rdp" << QStringLiteral("无法导入“no-such-file.rdp”：");
    }

    void refusesBadFiles()
    {
        QFETCH(QString, file);
        QFETCH(QString, message);
        try {
            ReadImportFile(dataFile(file));
            QFAIL("the file was read");
        } catch (const AppError &error) {
            QVERIFY2(error.message().startsWith(message), qPrintable(error.message()));
        }
    }

    // Files of other names are told by what they hold.
    void choosesReaderByContent()
    {
        QTemporaryDir dir;
        const QStringList sources = {QStringLiteral("servers.rdg"), QStringLiteral("confCons.xml"), QStringLiteral("web.remmina"), QStringLiteral("数据库.rdp")};
        for (const QString &name : sources) {
            QFile in(dataFile(name));
            QVERIFY(in.open(QIODevice::ReadOnly));
            // Same base name: an .rdp file's server is described by it.
            const QString copy = dir.filePath(QFileInfo(name).completeBaseName() + QStringLiteral(".txt"));
            QFile::remove(copy);
            writeFile(copy, in.readAll());
            QCOMPARE(recordLines(ReadImportFile(copy)), recordLines(ReadImportFile(dataFile(name))));
        }
        const QString other = dir.filePath(QStringLiteral("notes.txt"));
        writeFile(other, "just some notes\n");
        QVERIFY_THROWS_EXCEPTION(AppError, ReadImportFile(other));
    }

    // A set of files: the bad one is named and brings nothing, the good ones come
    // in, and servers the catalogue has already are left out with a reason.
    void importsIntoGroup()
    {
        QTemporaryDir dir;
        UseIniFile(dir.filePath(QStringLiteral("SvrList.ini")));
        LoadGroups();
        LoadServers();
        const int group = AddGroup(QStringLiteral("Imported"));
        TClientSettings existing;
        existing.Server = QStringLiteral("127.0.0.13");
        existing.User = QStringLiteral("PRN");
        AddSvrItem(existing, UngroupedId, QStringLiteral("already here"));

        const QStringList files = {
            dataFile(QStringLiteral("confCons.xml")),
            dataFile(QStringLiteral("truncated.rdg")),
            dataFile(QStringLiteral("web.remmina")),
            dataFile(QStringLiteral("web.remmina")),
        };
        const TImportBatch batch = ReadImportFiles(files, GetSvrList());
        QCOMPARE(batch.RecordCount(), 3);
        const std::vector<PSvrItem> added = AddImportedServers(batch, group);
        QCOMPARE(int(added.size()), 3);
        QCOMPARE(GetSvrList().Count(), 4);
        for (PSvrItem s : added)
            QCOMPARE(s->Group, (TSvrGroup{group, QStringLiteral("Imported")}));

        // Written as any added server is, readable again after a fresh load.
        ReleaseCatalogue();
        UseIniFile(dir.filePath(QStringLiteral("SvrList.ini")));
        LoadGroups();
        LoadServers();
        QStringList loaded;
        for (const auto &s : GetSvrList())
            loaded << s->ClntSett.Server + u'|' + s->ClntSett.User + u'|' + s->Description + u'|' + s->Group.GroupName;
        QCOMPARE(loaded, (QStringList{
                             QStringLiteral("127.0.0.13|PRN|already here|") + UngroupedName(),
                             QStringLiteral("reception.office.test|officeuser|Reception PC|Imported"),
                             QStringLiteral("deep.office.test|officeuser|Deep|Imported"),
                             QStringLiteral("web2.example.test|operator|Web front|Imported"),
                         }));

        const QString summary = ImportSummary(batch, int(added.size()), QStringLiteral("Imported"));
        QVERIFY2(summary.startsWith(QStringLiteral("已导入 3 台服务器到组“Imported”。")), qPrintable(summary));
        for (const QString &part : {QStringLiteral("Printer box：已有同一地址、端口和用户的服务器"),
                                    QStringLiteral("Web front：已有同一地址、端口和用户的服务器"),
                                    QStringLiteral("Router：协议 SSH2 不是 RDP"),
                                    QStringLiteral("Reception PC：") + kEncrypted,
                                    QStringLiteral("Web front：") + kEncrypted,
                                    QStringLiteral("无法读取 1 个文件，其中的服务器都未导入："),
                                    QStringLiteral("无法导入“truncated.rdg”：XML")})
            QVERIFY2(summary.contains(part), qPrintable(part + QStringLiteral("\n---\n") + summary));
        ReleaseCatalogue();
    }

    // A write that fails takes back the servers added before it: nothing half-way.
    void failedWriteAddsNothing()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("SvrList.ini"));
        UseIniFile(file);
        LoadGroups();
        LoadServers();
        TClientSettings first;
        first.Server = QStringLiteral("127.0.0.1");
        AddSvrItem(first, UngroupedId, QStringLiteral("before"));
        QFile in(file);
        QVERIFY(in.open(QIODevice::ReadOnly));
        const qint64 sizeBefore = in.size();

        TImportBatch batch;
        batch.Results.emplace_back();
        for (int i = 0; i < 40; ++i) {
            TImportRecord r;
            r.Settings.Server = QStringLiteral("127.0.1.%1").arg(i);
            r.Description = QStringLiteral("imported %1").arg(i);
            batch.Results.back().Records.push_back(r);
        }
        // The file may not grow much beyond its present size, so that a few servers
        // go in and then a write fails, for root too.
        {
            const FileSizeLimit limit(sizeBefore + 1500);
            QVERIFY_THROWS_EXCEPTION(AppError, AddImportedServers(batch, UngroupedId));
        }
        QCOMPARE(GetSvrList().Count(), 1);
        ReleaseCatalogue();
        UseIniFile(file);
        LoadGroups();
        LoadServers();
        QCOMPARE(GetSvrList().Count(), 1);
        QCOMPARE(GetSvrList().Items(0)->Description, QStringLiteral("before"));
        ReleaseCatalogue();
    }

    // Long lists are shortened in the summary.
    void summaryShortensLongLists()
    {
        TImportBatch batch;
        TImportResult result;
        for (int i = 0; i < 25; ++i)
            result.Skipped.push_back({QStringLiteral("s%1").arg(i), QStringLiteral("why")});
        batch.Results.push_back(result);
        const QString summary = ImportSummary(batch, 0, QStringLiteral("G"));
        QVERIFY(summary.contains(QStringLiteral("未导入 25 项：")));
        QVERIFY(summary.contains(QStringLiteral("s19：why")));
        QVERIFY(!summary.contains(QStringLiteral("s20：why")));
        QVERIFY(summary.contains(QStringLiteral("……另有 5 项")));
    }

    // The written file is UTF-16 LE with a mark and CR LF, carries no password,
    // and reads back as the same server.
    void exportRoundTrip_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<bool>("full");
        QTest::newRow("name, default port") << "web1.example.test" << 3389 << "" << false;
        QTest::newRow("address, own port, domain, full screen") << "127.0.0.20" << 3390 << "CORP" << true;
        QTest::newRow("IPv6, own port") << "::1" << 3391 << "" << false;
    }

    void exportRoundTrip()
    {
        QFETCH(QString, server);
        QFETCH(int, port);
        QFETCH(QString, domain);
        QFETCH(bool, full);
        TSvrItem item;
        item.ClntSett = {server, port, domain, QStringLiteral("admin"), QStringLiteral("s3cret"), 1280, 800, full, 16};
        item.Description = QStringLiteral("Front: web/1?");
        QTemporaryDir dir;
        const QString path = dir.filePath(RdpFileNameFor(item));
        QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("Front_ web_1_.rdp"));
        ExportServer(item, path);

        QFile in(path);
        QVERIFY(in.open(QIODevice::ReadOnly));
        const QByteArray bytes = in.readAll();
        QVERIFY(bytes.startsWith("\xFF\xFE"));
        const QString text = QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData() + 2), (bytes.size() - 2) / 2);
        QVERIFY(text.endsWith(QStringLiteral("\r\n")));
        QVERIFY(!text.contains(QStringLiteral("s3cret")));
        QVERIFY(!text.contains(QStringLiteral("password"), Qt::CaseInsensitive));

        const TImportResult back = ReadImportFile(path);
        QCOMPARE(int(back.Records.size()), 1);
        TClientSettings expected = item.ClntSett;
        expected.Password.clear();
        QCOMPARE(back.Records[0].Settings, expected);
    }

    // A group goes out as one file per server, names kept apart.
    void exportsGroup()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("web.rdp")), "taken");
        std::vector<std::unique_ptr<TSvrItem>> owned;
        std::vector<PSvrItem> servers;
        for (const auto &[address, description] :
             std::vector<std::pair<QString, QString>>{{QStringLiteral("127.0.0.1"), QStringLiteral("web")}, {QStringLiteral("127.0.0.2"), QStringLiteral("WEB")}, {QStringLiteral("127.0.0.3"), QStringLiteral("")}}) {
            owned.push_back(std::make_unique<TSvrItem>());
            owned.back()->ClntSett.Server = address;
            owned.back()->Description = description;
            servers.push_back(owned.back().get());
        }
        const QStringList written = ExportServers(servers, dir.path());
        QStringList names;
        for (const QString &p : written)
            names << QFileInfo(p).fileName();
        QCOMPARE(names, (QStringList{QStringLiteral("web (2).rdp"), QStringLiteral("WEB (3).rdp"), QStringLiteral("127.0.0.3.rdp")}));
        QFile kept(dir.filePath(QStringLiteral("web.rdp")));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("taken"));
        QCOMPARE(ReadImportFile(written[1]).Records[0].Settings.Server, QStringLiteral("127.0.0.2"));
    }
};

QTEST_GUILESS_MAIN(TestImport)
#include "tst_import.moc"
