// Reading the connection files of other programs, adding their servers to the
// catalogue, and writing servers out as .rdp files.
#include "AppError.h"
#include "GroupPaths.h"
#include "IniDocument.h"
#include "ConfConsFile.h"
#include "RdgFile.h"
#include "RdpFile.h"
#include "RemminaFile.h"
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
const QString kDamaged = QStringLiteral("密码已损坏或加密方式不认识，未导入密码");

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
            << QStringLiteral("web.remmina") << QStringList{QStringLiteral("web2.example.test|3395|CORP|operator||1920x1080|15|full|Web front|Production / Web")}
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
                   QStringLiteral("127.0.0.11|3389|OPS|opsuser||800x600|24|window||Web / Inner"),
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
                   QStringLiteral("reception.office.test|3396|OFFICE|officeuser||1024x768|16|full|Reception PC — front desk|Office"),
                   QStringLiteral("127.0.0.13|3389||prn||1024x768|8|window|Printer box|Office"),
                   QStringLiteral("deep.office.test|3389|OFFICE|officeuser||1280x1024|24|window|Deep|Office / Nested"),
               }
            << QStringList{QStringLiteral("Router: 协议 SSH2 不是 RDP"), QStringLiteral("Empty host: 没有服务器地址")} << QStringList{QStringLiteral("Reception PC: ") + kDamaged};
        QTest::newRow("confCons, default master password, folders of one name kept apart")
            << "confCons-passwords.xml"
            << QStringList{
                   QStringLiteral("127.0.0.31|3389|BJ|tester|Pa55-测试|1280x1024|24|window|测试机 — 数据库测试 第二行|北京机房 / 测试"),
                   QStringLiteral("127.0.0.32|3389|BJ|tester||1280x1024|24|window|测试二|北京机房 / 测试 (2)"),
                   QStringLiteral("gw.bj.test|3389|BJ|gwadmin|gw-s3cret|1280x1024|24|window|网关 — 出口网关|北京机房"),
                   QStringLiteral("GW.bj.test|3389|BJ|gwadmin|gw-s3cret|1280x1024|24|window|网关副本|"),
               }
            << QStringList{QStringLiteral("SSH 跳板: 协议 SSH2 不是 RDP")} << QStringList{};
        QTest::newRow("rdg, nested groups of one name, comments")
            << "datacentre.rdg"
            << QStringList{
                   QStringLiteral("127.0.0.51|3389|BJ|bjadmin||1024x768|24|window|测试库 — 只读副本 周五重启|北京机房 / 测试"),
                   QStringLiteral("127.0.0.52|3389|BJ|bjadmin||1024x768|24|window|没有显示名|北京机房 / 测试"),
                   QStringLiteral("127.0.0.53|3389|BJ|bjadmin||1024x768|24|window|另一个测试|北京机房 / 测试 (2)"),
                   QStringLiteral("127.0.0.51|3389|BJ|bjadmin||1024x768|24|window|测试库（重复）|北京机房 / 测试 (2)"),
               }
            << QStringList{} << QStringList{};
        QTest::newRow("remmina, nested group")
            << "nested.remmina" << QStringList{QStringLiteral("127.0.0.61|3389||tester||1024x768|24|window|测试机|北京机房 / 测试")}
            << QStringList{} << QStringList{};
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

    // An address no connection could use is refused in every format, with the
    // reason the connection itself would give; the entry is not imported.
    void refusesAddressesNoSessionTakes_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("skipped"); // empty: imported
        const QString blank = QStringLiteral("地址中不能有空格或控制字符");
        const QString pipe = QStringLiteral("地址不能以 \"|\" 或 \"/\" 开头");
        const QStringList formats{QStringLiteral("rdp"), QStringLiteral("remmina"), QStringLiteral("rdg"), QStringLiteral("xml")};
        for (const QString &format : formats) {
            const auto row = [&](const char *name) -> QTestData & { return QTest::newRow(qPrintable(format + QStringLiteral(": ") + QLatin1String(name))); };
            row("plain") << format << QStringLiteral("127.0.0.7") << QString();
            row("blanks around") << format << QStringLiteral("  127.0.0.7 ") << QString();
            row("blank inside, port after it") << format << QStringLiteral("127.0.0.1:33890 x") << blank;
            row("tab inside") << format << QStringLiteral("host\tname") << blank;
            // XML 1.0 has no control characters but tab, line feed and carriage return.
            if (format == QStringLiteral("rdp") || format == QStringLiteral("remmina"))
                row("control character") << format << QStringLiteral("host\x01name") << blank;
            row("zero-width space") << format << QStringLiteral("host\u200bname") << blank;
            row("file descriptor") << format << QStringLiteral("|3") << pipe;
            row("socket path") << format << QStringLiteral("/tmp/socket") << pipe;
        }
    }

    void refusesAddressesNoSessionTakes()
    {
        QFETCH(QString, format);
        QFETCH(QString, address);
        QFETCH(QString, skipped);
        QString escaped = address;
        escaped.replace(u'&', QStringLiteral("&amp;")).replace(u'<', QStringLiteral("&lt;")).replace(u'"', QStringLiteral("&quot;"));
        escaped.replace(u'\t', QStringLiteral("&#9;"));
        TImportResult result;
        if (format == QStringLiteral("rdp")) {
            result = ReadRdpFile(QStringLiteral("full address:s:%1\nusername:s:u\n").arg(address).toUtf8(), QStringLiteral("e.rdp"));
        } else if (format == QStringLiteral("remmina")) {
            result = ReadRemminaFile(QStringLiteral("[remmina]\nname=e\nprotocol=RDP\nserver=%1\n").arg(address).toUtf8(),
                                     QStringLiteral("e.remmina"));
        } else if (format == QStringLiteral("rdg")) {
            result = ReadRdgFile(QStringLiteral("<?xml version=\"1.0\"?><RDCMan programVersion=\"2.7\" schemaVersion=\"3\"><file>"
                                                "<properties><name>f</name></properties><server><properties><name>%1</name>"
                                                "<displayName>e</displayName></properties></server></file></RDCMan>")
                                     .arg(escaped)
                                     .toUtf8(),
                                 QStringLiteral("e.rdg"));
        } else {
            result = ReadConfConsFile(QStringLiteral("<?xml version=\"1.0\"?><Connections Name=\"c\" ConfVersion=\"2.6\">"
                                                     "<Node Name=\"e\" Type=\"Connection\" Protocol=\"RDP\" Hostname=\"%1\" Port=\"3389\"/>"
                                                     "</Connections>")
                                          .arg(escaped)
                                          .toUtf8(),
                                      QStringLiteral("e.xml"));
        }
        if (skipped.isEmpty()) {
            QCOMPARE(result.Records.size(), size_t(1));
            QCOMPARE(result.Records.front().Settings.Server, QStringLiteral("127.0.0.7"));
            QVERIFY(result.Skipped.empty());
            return;
        }
        QVERIFY2(result.Records.empty(), qPrintable(recordLines(result).join(u'\n')));
        QCOMPARE(result.Skipped.size(), size_t(1));
        QVERIFY2(result.Skipped.front().Text.endsWith(skipped), qPrintable(result.Skipped.front().Text));
        QVERIFY2(!result.Skipped.front().Text.contains(u'\x01'), "the reason shows the control character as a mark");
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

    // A set of files into one group chosen: the bad one is named and brings
    // nothing, the good ones come in, and servers the catalogue has already are
    // left out with a reason.
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
        TImportBatch batch = ReadImportFiles(files);
        DropKnownServers(batch, GetSvrList());
        QCOMPARE(batch.RecordCount(), 3);
        const std::vector<PSvrItem> added = AddImportedServers(batch, {group, false});
        QCOMPARE(int(added.size()), 3);
        QCOMPARE(GetSvrList().Count(), 4);
        for (PSvrItem s : added)
            QCOMPARE(s->Group, (TSvrGroup{group, QStringLiteral("Imported")}));
        QCOMPARE(GetSvrGroups().Count(), 1);

        const QString summary = ImportSummary(batch, added);
        QVERIFY2(summary.startsWith(QStringLiteral("已导入 3 台服务器到组“Imported”。")), qPrintable(summary));
        for (const QString &part : {QStringLiteral("Printer box：已有同一地址、端口和用户的服务器"),
                                    QStringLiteral("Web front：已有同一地址、端口和用户的服务器"),
                                    QStringLiteral("Router：协议 SSH2 不是 RDP"),
                                    QStringLiteral("Reception PC：") + kDamaged,
                                    QStringLiteral("Web front：") + kEncrypted,
                                    QStringLiteral("无法读取 1 个文件，其中的服务器都未导入："),
                                    QStringLiteral("无法导入“truncated.rdg”：XML")})
            QVERIFY2(summary.contains(part), qPrintable(part + QStringLiteral("\n---\n") + summary));
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
                             QStringLiteral("reception.office.test|officeuser|Reception PC — front desk|Imported"),
                             QStringLiteral("deep.office.test|officeuser|Deep|Imported"),
                             QStringLiteral("web2.example.test|operator|Web front|Imported"),
                         }));

        ReleaseCatalogue();
    }

    // The files' groups become groups: a nested one by its path, two of one name
    // kept apart, one the catalogue has already (in any letter case) taken as it
    // is; servers of no group go into the group chosen. The summary names them.
    void keepsFileGroups()
    {
        QTemporaryDir dir;
        UseIniFile(dir.filePath(QStringLiteral("SvrList.ini")));
        LoadGroups();
        LoadServers();
        const int existing = AddGroup(QStringLiteral("北京机房 / 测试"));
        const int chosen = AddGroup(QStringLiteral("Chosen"));

        TImportBatch batch = ReadImportFiles({dataFile(QStringLiteral("confCons-passwords.xml")), dataFile(QStringLiteral("datacentre.rdg")),
                                              dataFile(QStringLiteral("ssh.remmina"))});
        DropKnownServers(batch, GetSvrList());
        QVERIFY(batch.HasFileGroups());
        const std::vector<PSvrItem> added = AddImportedServers(batch, {chosen, true});
        QStringList placed;
        for (PSvrItem s : added)
            placed << s->ClntSett.Server + u'|' + s->Group.GroupName;
        QCOMPARE(placed, (QStringList{
                             QStringLiteral("127.0.0.31|北京机房 / 测试"),
                             QStringLiteral("127.0.0.32|北京机房 / 测试 (2)"),
                             QStringLiteral("gw.bj.test|北京机房"),
                             QStringLiteral("127.0.0.51|北京机房 / 测试"),
                             QStringLiteral("127.0.0.52|北京机房 / 测试"),
                             QStringLiteral("127.0.0.53|北京机房 / 测试 (2)"),
                         }));
        QCOMPARE(added.front()->Group.GroupId, existing);
        QStringList groups;
        for (const auto &g : GetSvrGroups())
            groups << g->GroupName;
        QCOMPARE(groups, (QStringList{QStringLiteral("北京机房 / 测试"), QStringLiteral("Chosen"), QStringLiteral("北京机房 / 测试 (2)"), QStringLiteral("北京机房")}));

        const QString summary = ImportSummary(batch, added);
        QVERIFY2(summary.startsWith(QStringLiteral("已导入 6 台服务器到 3 个组：“北京机房 / 测试”、“北京机房 / 测试 (2)”、“北京机房”。")),
                 qPrintable(summary));
        for (const QString &part : {QStringLiteral("网关副本：已有同一地址、端口和用户的服务器"),
                                    QStringLiteral("测试库（重复）：已有同一地址、端口和用户的服务器"),
                                    QStringLiteral("SSH 跳板：协议 SSH2 不是 RDP"), QStringLiteral("Jump host：协议 SSH 不是 RDP")})
            QVERIFY2(summary.contains(part), qPrintable(part + QStringLiteral("\n---\n") + summary));

        // The same files again: nothing new, and no group is named.
        TImportBatch again = ReadImportFiles({dataFile(QStringLiteral("confCons-passwords.xml")), dataFile(QStringLiteral("datacentre.rdg"))});
        DropKnownServers(again, GetSvrList());
        QCOMPARE(again.RecordCount(), 0);
        QCOMPARE(again.Duplicates.size(), size_t(8));
        const QString none = ImportSummary(again, {});
        QVERIFY2(none.startsWith(QStringLiteral("文件中的服务器都已在列表中，没有导入新的服务器。\n未导入 9 项：")), qPrintable(none));
        QVERIFY(!none.contains(QStringLiteral("组“")));
        ReleaseCatalogue();
    }

    // Passwords sealed with a master password of the user's own stay sealed and
    // are told; the right master password opens them, a wrong one none.
    void opensCustomMasterPasswords()
    {
        TImportBatch batch = ReadImportFiles({dataFile(QStringLiteral("confCons-custom-master.xml"))});
        QCOMPARE(batch.SealedCount(), 2);
        QCOMPARE(recordLines(batch.Results[0]),
                 (QStringList{QStringLiteral("127.0.0.41|3389|BJ|filer||1280x1024|24|window|文件服务器|上海"),
                              QStringLiteral("127.0.0.42|3389|BJ|printer||1280x1024|24|window|打印服务器|上海")}));
        TSvrItem shown;
        shown.Group = {1, QStringLiteral("上海")};
        const QString summary = ImportSummary(batch, {&shown});
        QVERIFY2(summary.contains(QStringLiteral("文件服务器：密码用 mRemoteNG 的自定义主密码加密，未导入密码")), qPrintable(summary));

        QCOMPARE(OpenSealedPasswords(batch, QStringLiteral("mR3m")), 0);
        QCOMPARE(OpenSealedPasswords(batch, QStringLiteral("kelp-42")), 0);
        QCOMPARE(batch.SealedCount(), 2);
        int reports = 0;
        QCOMPARE(OpenSealedPasswords(batch, QStringLiteral("Kelp-42"), [&](int, int) { return ++reports > 0; }), 2);
        QCOMPARE(reports, 2);
        QCOMPARE(batch.SealedCount(), 0);
        QCOMPARE(batch.Results[0].Records[0].Settings.Password, QStringLiteral("f1ler-pw"));
        QCOMPARE(batch.Results[0].Records[1].Settings.Password, QStringLiteral("pr1nt-pw"));
        QVERIFY(!ImportSummary(batch, {&shown}).contains(QStringLiteral("自定义主密码")));
    }

    // Groups a file keeps apart get names apart: alike names, names differing in
    // letter case, a name that reads like a path, a group without a name.
    void namesGroupsApart()
    {
        TGroupPaths paths;
        const QStringList claimed{
            paths.Claim(QString(), QStringLiteral("A")),
            paths.Claim(QStringLiteral("A"), QStringLiteral("B")),
            paths.Claim(QString(), QStringLiteral("A / B")),
            paths.Claim(QString(), QStringLiteral("a")),
            paths.Claim(QStringLiteral("A"), QStringLiteral("  ")),
            paths.Claim(QStringLiteral("A"), QString()),
            paths.Claim(QString(), QStringLiteral(" Web\n front ")),
        };
        QCOMPARE(claimed, (QStringList{QStringLiteral("A"), QStringLiteral("A / B"), QStringLiteral("A / B (2)"), QStringLiteral("a (2)"), QStringLiteral("A / 未命名组"), QStringLiteral("A / 未命名组 (2)"), QStringLiteral("Web front")}));
        const QString longName(300, u'x');
        const QString first = paths.Claim(QString(), longName);
        const QString second = paths.Claim(QString(), longName);
        QCOMPARE(first, longName.left(TGroupPaths::MaxLength));
        QCOMPARE(second, longName.left(TGroupPaths::MaxLength - 4) + QStringLiteral(" (2)"));
    }

    // A comment is joined to the name on one line, and cut to what the field holds.
    void joinsDescriptions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("comment");
        QTest::addColumn<QString>("description");
        QTest::addColumn<int>("notes");
        QTest::newRow("name only") << "Web"
                                   << ""
                                   << "Web" << 0;
        QTest::newRow("comment only") << ""
                                      << "备注"
                                      << "备注" << 0;
        QTest::newRow("both, lines") << "Web"
                                     << "line one\r\nline two\n"
                                     << "Web — line one line two" << 0;
        QTest::newRow("too long") << "Web" << QString(40000, u'x') << QStringLiteral("Web — ") + QString(MaxDescriptionLength - 6, u'x') << 1;
    }

    void joinsDescriptions()
    {
        QFETCH(QString, name);
        QFETCH(QString, comment);
        QFETCH(QString, description);
        QFETCH(int, notes);
        std::vector<TImportNote> told;
        QCOMPARE(ImportDescription(name, comment, QStringLiteral("e"), told), description);
        QCOMPARE(int(told.size()), notes);
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
            QVERIFY_THROWS_EXCEPTION(AppError, AddImportedServers(batch, {UngroupedId, true}));
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
        const QString summary = ImportSummary(batch, {});
        QVERIFY(summary.startsWith(QStringLiteral("没有导入任何服务器。\n未导入 25 项：")));
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
