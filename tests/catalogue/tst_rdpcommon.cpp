#include "AppError.h"
#include "CatalogueDump.h"
#include "Encrypt.h"
#include "IniEncoding.h"
#include "IniFile.h"
#include "RdpCommon.h"
#include "RdpConst.h"
#include "TempCatalogue.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTest>
#include <functional>

class TestRdpCommon : public QObject {
    Q_OBJECT

    std::unique_ptr<TempCatalogue> dir;

    void load(const QByteArray &content)
    {
        dir->write(content);
        ReloadCatalogue(dir->path());
    }

private slots:
    void init()
    {
        dir = std::make_unique<TempCatalogue>();
        UseIniFile(dir->path());
    }
    void cleanup()
    {
        ReleaseCatalogue();
        dir.reset();
    }

    void noFileGivesEmptyCatalogueAndFirstIdsAreOne()
    {
        ReloadCatalogue(dir->path());
        QCOMPARE(GetSvrGroups().Count(), 0);
        QCOMPARE(GetSvrList().Count(), 0);
        QCOMPARE(AddGroup(QStringLiteral("生产")), 1);
        PSvrItem server = AddSvrItem(TestSettings(QStringLiteral("127.0.0.1")), -1, QStringLiteral("desc"));
        QCOMPARE(server->Id, 1);
        QCOMPARE(server->Group, (TSvrGroup{-1, QStringLiteral("未分组")}));
        QCOMPARE(dir->read(),
                 NewFileBytes(QStringLiteral(
                     "[GroupItem1]\r\nGroupName=生产\r\n\r\n[MISC]\r\nMaxGroupID=1\r\nMaxServerId=1\r\n\r\n"
                     "[ServerItem1]\r\nGroupId=-1\r\nDescription=desc\r\nServer=127.0.0.1\r\nPort=3389\r\n"
                     "Domain=\r\nUser=admin\r\nPassword=2EB4\r\nWidth=1024\r\nHeight=768\r\nFullScreen=0\r\n"
                     "ColorDeepth=24\r\n")));
    }

    void windowsFilesLoad_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("gb18030") << "SvrList-gb18030.ini";
        QTest::newRow("utf16le") << "SvrList-utf16le-bom.ini";
        QTest::newRow("utf8") << "SvrList-utf8.ini";
    }
    void windowsFilesLoad()
    {
        QFETCH(QString, file);
        load(TempCatalogue::dataFile(file));
        const QString expected = QStringLiteral(
            "counters 4 7\n"
            "group 1 生产服务器\n"
            "group 3 测试环境\n"
            "group 4 数据库\n"
            "server 1 [1 生产服务器] 127.0.0.10:3389 CORP\\administrator pw=P@ssw0rd! 1024x768 fs=false depth=24 desc=主站 Web 服务器\n"
            "server 2 [1 生产服务器] localhost:3390 \\admin pw=secret99 1280x1024 fs=true depth=32 desc=备用\n"
            "server 5 [3 测试环境] 127.0.0.12:13389 \\测试用户 pw=abc 800x600 fs=false depth=16 desc=测试机，端口非默认\n"
            "server 6 [9 未分组] 127.0.0.13:3389 \\ops pw= 1024x768 fs=false depth=12 desc=组已删除的服务器\n"
            "server 7 [-1 未分组] 127.0.0.14:3389 \\root pw=longpassword123 1920x1080 fs=false depth=15 desc=");
        QCOMPARE(DumpCatalogue(), expected);
        QVERIFY(TakeLoadWarning().isEmpty());

        // A change written back keeps the file's encoding, and every server still loads.
        const QByteArray before = dir->read();
        AddSvrItem(TestSettings(QStringLiteral("127.0.0.15"), QStringLiteral("口令")), 3, QStringLiteral("新服务器"));
        const DecodedText beforeText = DecodeIniText(before);
        const DecodedText afterText = DecodeIniText(dir->read());
        QCOMPARE(int(afterText.encoding), int(beforeText.encoding));
        QVERIFY(afterText.text.startsWith(QString(beforeText.text).replace(QStringLiteral("MaxServerId=7"), QStringLiteral("MaxServerId=8"))));
        ReloadCatalogue(dir->path());
        QCOMPARE(DumpCatalogue(),
                 QString(expected).replace(QStringLiteral("counters 4 7"), QStringLiteral("counters 4 8"))
                     + QStringLiteral("\nserver 8 [3 测试环境] 127.0.0.15:3389 \\admin pw=口令 1024x768 fs=false depth=24 desc=新服务器"));
    }

    // Files as Windows and earlier versions wrote them, read as Windows reads them.
    void trickyFilesLoad_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("expected");
        QTest::newRow("gb18030 that is valid utf-8")
            << "gb18030-valid-utf8.ini"
            << "counters 2 2\ngroup 1 医院\ngroup 2 证券\n"
               "server 1 [1 医院] 127.0.0.21:3389 \\admin pw= 1024x768 fs=false depth=24 desc=医院\n"
               "server 2 [2 证券] 127.0.0.22:3389 \\admin pw= 1024x768 fs=false depth=24 desc=证券";
        const QString strayServers = QStringLiteral("counters 1 2\ngroup 1 生产服务器\n"
                                                    "server 1 [1 生产服务器] 127.0.0.23:3389 \\管理员 pw= 1024x768 fs=false depth=24 desc=主站 \uFFFD 服务器\n"
                                                    "server 2 [1 生产服务器] 127.0.0.24:3389 \\测试用户 pw= 1024x768 fs=false depth=24 desc=备用服务器");
        QTest::newRow("utf-8 with a stray byte") << "stray-byte-utf8.ini" << strayServers;
        QTest::newRow("gb18030 with a stray byte") << "stray-byte-gb18030.ini" << strayServers;
        QTest::newRow("utf-8 section in gb18030")
            << "mixed-gb18030-utf8.ini"
            << "counters 1 3\ngroup 1 生产服务器\n"
               "server 1 [1 生产服务器] 127.0.0.23:3389 \\管理员 pw= 1024x768 fs=false depth=24 desc=主站  服务器\n"
               "server 2 [1 生产服务器] 127.0.0.24:3389 \\测试用户 pw= 1024x768 fs=false depth=24 desc=备用服务器\n"
               "server 3 [1 生产服务器] 127.0.0.25:3389 \\运维 pw= 1024x768 fs=false depth=24 desc=数据库中";
        QTest::newRow("quoted values")
            << "quoted.ini"
            << "counters 1 1\ngroup 1 带引号的组\n"
               "server 1 [1 带引号的组] 127.0.0.26:3390 \\\"admin pw= 1280x768 fs=true depth=16 desc= 两端有空格 ";
        QTest::newRow("duplicate sections")
            << "duplicate-sections.ini"
            << "counters 0 3\nserver 3 [-1 未分组] 127.0.0.28:3389 \\ pw= 1024x768 fs=false depth=24 desc=";
    }
    void trickyFilesLoad()
    {
        QFETCH(QString, file);
        QFETCH(QString, expected);
        load(TempCatalogue::dataFile(file));
        QCOMPARE(DumpCatalogue(), expected);
    }

    // Changing one server leaves every byte of the others, undecodable ones included.
    void changesKeepOtherServersBytes_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("utf-8") << "stray-byte-utf8.ini";
        QTest::newRow("gb18030") << "stray-byte-gb18030.ini";
        QTest::newRow("mixed") << "mixed-gb18030-utf8.ini";
    }
    void changesKeepOtherServersBytes()
    {
        QFETCH(QString, file);
        const QByteArray original = TempCatalogue::dataFile(file);
        load(original);
        const qsizetype server1 = original.indexOf("[ServerItem1]");
        const qsizetype server2 = original.indexOf("[ServerItem2]");
        PSvrItem second = GetSvrItem(2);
        TClientSettings changed = second->ClntSett;
        changed.User = QStringLiteral("新用户");
        UpdateSvrItem(2, changed, QStringLiteral("新描述"));
        RenameGroup(1, QStringLiteral("改名"));
        const QByteArray after = dir->read();
        QVERIFY(after.contains(original.mid(server1, server2 - server1)));
        QVERIFY(after.endsWith(original.mid(original.indexOf("\r\n", original.indexOf("User=", server2)) + 2)));
        ReloadCatalogue(dir->path());
        QCOMPARE(GetSvrItem(2)->ClntSett.User, QStringLiteral("新用户"));
        QCOMPARE(GetSvrItem(1)->Group.GroupName, QStringLiteral("改名"));
    }

    // A file that cannot be read is an error, not an empty catalogue that the next change would overwrite.
    void unreadableFileStopsTheLoad()
    {
        QVERIFY(QDir().mkdir(dir->path()));
        QVERIFY_THROWS_EXCEPTION(AppError, ReloadCatalogue(dir->path()));
        QVERIFY_THROWS_EXCEPTION(AppError, AddGroup(QStringLiteral("g")));
        QVERIFY(QFileInfo(dir->path()).isDir());
    }

    void countersBoundWhatIsLoaded()
    {
        load("[MISC]\nMaxGroupID=5\nMaxServerId=8\n"
             "[GroupItem0]\nGroupName=zero\n[GroupItem3]\nGroupName=three\n[GroupItem6]\nGroupName=above\n"
             "[GroupItem03]\nGroupName=padded\n[GroupItem-1]\nGroupName=negative\n"
             "[ServerItem8]\nServer=127.0.0.8\n[ServerItem9]\nServer=127.0.0.9\n[ServerItem2]\n\n");
        QCOMPARE(DumpCatalogue(),
                 QStringLiteral("counters 5 8\ngroup 0 zero\ngroup 3 three\n"
                                "server 8 [-1 未分组] 127.0.0.8:3389 \\ pw= 1024x768 fs=false depth=24 desc="));
        QCOMPARE(AddGroup(QStringLiteral("next")), 6);
        QCOMPARE(AddSvrItem(TestSettings(QStringLiteral("127.0.0.1")), 3, {})->Group, (TSvrGroup{3, QStringLiteral("three")}));
        QCOMPARE(MaxServerId, 9);
    }

    void negativeCountersLoadNothing()
    {
        load("[MISC]\nMaxGroupID=-1\nMaxServerId=-5\n[GroupItem0]\nGroupName=g\n[ServerItem0]\nServer=127.0.0.1\n");
        QCOMPARE(GetSvrGroups().Count(), 0);
        QCOMPARE(GetSvrList().Count(), 0);
        QCOMPARE(AddSvrItem(TestSettings(QStringLiteral("127.0.0.2")), -1, {})->Id, 1);
        QCOMPARE(IniFile(dir->path()).current().readInteger(QStringLiteral("MISC"), QStringLiteral("MaxServerId"), 0), 1);
        QCOMPARE(AddGroup(QStringLiteral("g")), 1);
    }

    // A counter at the top of the range neither hangs the load nor wraps around.
    void hugeCounterLoadsPromptlyAndRefusesNewIds()
    {
        load("[MISC]\nMaxServerId=2147483647\n[ServerItem5]\nServer=127.0.0.5\n");
        QCOMPARE(GetSvrList().Count(), 1);
        const QString before = DumpCatalogue();
        QVERIFY_THROWS_EXCEPTION(AppError, AddSvrItem(TestSettings(QStringLiteral("127.0.0.6")), -1, {}));
        QCOMPARE(DumpCatalogue(), before);
    }

    void oddValuesReadAsTheirDefaults()
    {
        load("[MISC]\nMaxServerId=3\n"
             "[ServerItem1]\nPort=abc\nFullScreen=2\nWidth=-5\nColorDeepth=12\n"
             "[ServerItem2]\nport=0x0D3D\nfullscreen=true\nGroupId=\n"
             "[serveritem3]\nPORT=-5\nHeight=99999999999\n");
        QCOMPARE(DumpCatalogue(),
                 QStringLiteral("counters 0 3\n"
                                "server 1 [-1 未分组] :3389 \\ pw= -5x768 fs=true depth=12 desc=\n"
                                "server 2 [-1 未分组] :3389 \\ pw= 1024x768 fs=false depth=24 desc=\n"
                                "server 3 [-1 未分组] :-5 \\ pw= 1024x768 fs=false depth=24 desc="));
    }

    void groupLookups()
    {
        load("[MISC]\nMaxGroupID=7\n[GroupItem2]\nGroupName=same\n[GroupItem7]\nGroupName=same\n[GroupItem5]\nGroupName=Other\n");
        QCOMPARE(GetGroupIdByName(QStringLiteral("same")), 7);
        QCOMPARE(GetGroupIdByName(QStringLiteral("other")), -1); // case matters
        QCOMPARE(GetGroupIdByName(QStringLiteral("none")), -1);
        QCOMPARE(GetGroup(7), (TSvrGroup{7, QStringLiteral("same")}));
        QCOMPARE(GetSvrGroups().Items(2)->GroupId, 7);
        TSvrGroup fallback = GetGroup(42);
        QCOMPARE(fallback, (TSvrGroup{-1, QStringLiteral("未分组")}));
        fallback.GroupName = QStringLiteral("changed");
        QCOMPARE(GetGroup(42).GroupName, QStringLiteral("未分组"));
        QCOMPARE(GetSvrGroups().Count(), 3);
    }

    void groupOperationsWriteThrough()
    {
        load("[MISC]\nMaxGroupID=3\n[GroupItem3]\nGroupName=old\n");
        RenameGroup(3, QStringLiteral("new"));
        QCOMPARE(RegisterGroup(TSvrGroup{10, QStringLiteral("ten")}), 10);
        QCOMPARE(RegisterGroup(TSvrGroup{4, QStringLiteral("four")}), 10);
        RenameGroup(99, QStringLiteral("ghost")); // not in the catalogue: nothing happens
        const QString memory = DumpCatalogue();
        QCOMPARE(memory, QStringLiteral("counters 10 0\ngroup 3 new\ngroup 10 ten\ngroup 4 four"));
        ReloadCatalogue(dir->path());
        QCOMPARE(DumpCatalogue(), QStringLiteral("counters 10 0\ngroup 3 new\ngroup 4 four\ngroup 10 ten"));
        QVERIFY(!IniFile(dir->path()).current().hasSection(QStringLiteral("GroupItem-1")));
    }

    void deletingAGroupLeavesItsServers()
    {
        const int group = AddGroup(QStringLiteral("g"));
        PSvrItem server = AddSvrItem(TestSettings(QStringLiteral("127.0.0.1")), group, {});
        QVERIFY(GroupHasServers(group));
        QVERIFY(!GroupHasServers(-1));
        DeleteGroup(group);
        DeleteGroup(77); // no such group: its (absent) section is erased, nothing else happens
        QCOMPARE(GetSvrGroups().Count(), 0);
        QCOMPARE(server->Group, (TSvrGroup{group, QStringLiteral("g")}));
        QCOMPARE(MaxGroupID, 1);
        ReloadCatalogue(dir->path());
        QCOMPARE(GetSvrList().Items(0)->Group, (TSvrGroup{group, QStringLiteral("未分组")}));
        QVERIFY(!IniFile(dir->path()).current().hasSection(QStringLiteral("GroupItem1")));
    }

    void movingServers()
    {
        AddGroup(QStringLiteral("A"));
        const int b = AddGroup(QStringLiteral("B"));
        PSvrItem server = AddSvrItem(TestSettings(QStringLiteral("127.0.0.1")), -1, {});
        SetSvrGroup(server->Id, QStringLiteral("B"));
        QCOMPARE(server->Group, (TSvrGroup{b, QStringLiteral("B")}));
        MoveSvrItem(server, QStringLiteral("nosuch"));
        QCOMPARE(server->Group, (TSvrGroup{-1, QStringLiteral("nosuch")}));
        QCOMPARE(IniFile(dir->path()).current().readInteger(QStringLiteral("ServerItem1"), QStringLiteral("GroupId"), 0), -1);
        MoveSvrItem(server, QStringLiteral("未分组"));
        QCOMPARE(server->Group.GroupId, -1);
        MoveSvrItem(nullptr, QStringLiteral("B"));
        SetSvrGroup(99, QStringLiteral("B"));
        MoveSvrItem(server, QStringLiteral("B"));
        ReloadCatalogue(dir->path());
        QCOMPARE(GetSvrItem(1)->Group, (TSvrGroup{b, QStringLiteral("B")}));
    }

    void updatingAndDeletingServers()
    {
        PSvrItem first = AddSvrItem(TestSettings(QStringLiteral("127.0.0.1")), -1, QStringLiteral("one"));
        AddSvrItem(TestSettings(QStringLiteral("127.0.0.2")), -1, QStringLiteral("two"));
        TClientSettings changed = TestSettings(QStringLiteral("127.0.0.3"), QStringLiteral("new"));
        changed.FullScreen = true;
        changed.ColorDepth = 32;
        UpdateSvrItem(first->Id, changed, QStringLiteral("uno"));
        UpdateSvrItem(99, changed, QStringLiteral("nothing"));
        QCOMPARE(first->ClntSett, changed);
        QCOMPARE(first->Description, QStringLiteral("uno"));
        DeleteSvrItem(GetSvrItem(2));
        DeleteSvrItem(nullptr);
        QCOMPARE(MaxServerId, 2);
        const QString memory = DumpCatalogue();
        ReloadCatalogue(dir->path());
        QCOMPARE(DumpCatalogue(), memory);
        QCOMPARE(AddSvrItem(TestSettings(QStringLiteral("127.0.0.4")), -1, {})->Id, 3);
    }

    void longTextsAndPasswordsComeBackWhole_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("password");
        QTest::newRow("long description") << QString(3000, QChar(u'述')) << QStringLiteral("pw");
        QTest::newRow("chinese password") << QStringLiteral("d") << QStringLiteral("密码😀x");
        QTest::newRow("latin-1 password") << QStringLiteral("d") << QStringLiteral("pässwörd");
        QTest::newRow("spaces kept inside") << QStringLiteral("a  b") << QStringLiteral("p w");
    }
    void longTextsAndPasswordsComeBackWhole()
    {
        QFETCH(QString, description);
        QFETCH(QString, password);
        AddSvrItem(TestSettings(QStringLiteral("127.0.0.1"), password), -1, description);
        ReloadCatalogue(dir->path());
        QCOMPARE(GetSvrItem(1)->Description, description);
        QCOMPARE(GetSvrItem(1)->ClntSett.Password, password);
        const QString stored = IniFile(dir->path()).current().readString(QStringLiteral("ServerItem1"), QStringLiteral("Password"), {});
        QVERIFY(!stored.contains(password));
        if (std::all_of(password.begin(), password.end(), [](QChar c) { return c.unicode() < 256; }))
            QCOMPARE(stored.size(), password.size() * 2);
    }

    // One bad password costs that password, not the rest of the catalogue.
    // A file cut off inside a character or a line, as a truncated copy leaves it: a
    // server added to it loads back as added, every group and server loads as before,
    // and the file's bytes stay in front of the new server.
    void addingAfterAnUndecodableTail_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("utf-16, odd byte") << TempCatalogue::dataFile(QStringLiteral("tail-utf16-odd-byte.ini"));
        QTest::newRow("utf-16 from windows, odd byte")
            << TempCatalogue::dataFile(QStringLiteral("SvrList-utf16le-bom.ini")) + QByteArray("\xA7");
        QTest::newRow("gb18030, width then a lead byte") << TempCatalogue::dataFile(QStringLiteral("tail-gb18030-lead-byte.ini"));
        QTest::newRow("ascii, width then A7")
            << QByteArray("[MISC]\r\nMaxServerId=7\r\n\r\n[ServerItem7]\r\nServer=127.0.0.14\r\nWidth=1\xA7");
        QTest::newRow("gb18030 from windows, lead byte")
            << TempCatalogue::dataFile(QStringLiteral("SvrList-gb18030.ini")).chopped(2) + QByteArray("\xC9");
        QTest::newRow("utf-8, character cut") << TempCatalogue::dataFile(QStringLiteral("tail-utf8-cut-character.ini"));
        for (const char byte : {'\xA8', '\xFC', '\xFE', '\x91'})
            QTest::addRow("one byte %02X", unsigned(static_cast<unsigned char>(byte))) << QByteArray(1, byte);
    }
    void addingAfterAnUndecodableTail()
    {
        QFETCH(QByteArray, file);
        load(file);
        const QString before = DumpCatalogue();
        const QString warning = TakeLoadWarning();
        const int counter = MaxServerId;
        const IniEncoding encoding = DecodeIniText(file).encoding;

        PSvrItem added = AddSvrItem(TestSettings(QStringLiteral("127.0.0.30"), QStringLiteral("口令")), 1, QStringLiteral("新服务器"));
        QStringList expected = before.split(QLatin1Char('\n'));
        expected[0] = QStringLiteral("counters %1 %2").arg(MaxGroupID).arg(added->Id);
        expected.append(DumpServer(*added));
        const int id = added->Id;
        ReloadCatalogue(dir->path());
        QCOMPARE(DumpCatalogue(), expected.join(QLatin1Char('\n')));
        QCOMPARE(TakeLoadWarning(), warning);

        // The bytes after the counter's line, the undecodable ones last, are in front of the new server.
        const QByteArray counterLine = EncodeIniBody(QStringLiteral("MaxServerId=%1\r\n").arg(counter), encoding);
        const qsizetype counterAt = file.indexOf(counterLine);
        const QByteArray untouched = counterAt < 0 ? file : file.mid(counterAt + counterLine.size());
        const QByteArray after = dir->read();
        const qsizetype newSection = after.indexOf(EncodeIniBody(QStringLiteral("[ServerItem%1]").arg(id), encoding));
        QVERIFY(newSection > 0);
        QVERIFY(after.left(newSection).contains(untouched));
    }

    void undecodablePasswordLoadsTheRest()
    {
        const QByteArray content = "[MISC]\nMaxServerId=3\n"
                                   "[ServerItem1]\nServer=127.0.0.1\nPassword=3FA174\n"
                                   "[ServerItem2]\nServer=127.0.0.2\nPassword=3FZZ74\nUser=u2\n"
                                   "[ServerItem3]\nServer=127.0.0.3\nPassword=3FA174\n";
        load(content);
        QCOMPARE(GetSvrList().Count(), 3);
        QCOMPARE(GetSvrItem(1)->ClntSett.Password, QStringLiteral("abc"));
        QCOMPARE(GetSvrItem(2)->ClntSett.Password, QString());
        QCOMPARE(GetSvrItem(2)->ClntSett.User, QStringLiteral("u2"));
        QCOMPARE(GetSvrItem(3)->ClntSett.Password, QStringLiteral("abc"));
        QCOMPARE(MaxServerId, 3);
        const QString warning = TakeLoadWarning();
        QVERIFY(warning.contains(QStringLiteral("127.0.0.2 (ServerItem2)")));
        QVERIFY(!warning.contains(QStringLiteral("127.0.0.1")));
        QVERIFY(TakeLoadWarning().isEmpty());
        QCOMPARE(dir->read(), content);
    }

    // Another running copy of the program writes the same file.
    void anotherCopysChangesAreKeptAndItsIdsNotReused()
    {
        ReloadCatalogue(dir->path());
        AddGroup(QStringLiteral("mine"));
        AddSvrItem(TestSettings(QStringLiteral("127.0.0.1")), -1, {});
        IniFile other(dir->path());
        other.update([](IniDocument &doc) {
            doc.writeString(QStringLiteral("GroupItem2"), QStringLiteral("GroupName"), QStringLiteral("theirs"));
            doc.writeInteger(QStringLiteral("MISC"), QStringLiteral("MaxGroupID"), 2);
            doc.writeString(QStringLiteral("ServerItem2"), QStringLiteral("Server"), QStringLiteral("127.0.0.2"));
            doc.writeInteger(QStringLiteral("MISC"), QStringLiteral("MaxServerId"), 2);
            doc.eraseSection(QStringLiteral("ServerItem1"));
        });
        QCOMPARE(AddGroup(QStringLiteral("mine too")), 3);
        QCOMPARE(AddSvrItem(TestSettings(QStringLiteral("127.0.0.3")), -1, {})->Id, 3);
        // Moving the server the other copy deleted does not bring back a stub of it.
        MoveSvrItem(GetSvrItem(1), QStringLiteral("mine"));
        IniFile reader(dir->path());
        const IniDocument &file = reader.current();
        QCOMPARE(file.readString(QStringLiteral("GroupItem2"), QStringLiteral("GroupName"), {}), QStringLiteral("theirs"));
        QCOMPARE(file.readString(QStringLiteral("ServerItem2"), QStringLiteral("Server"), {}), QStringLiteral("127.0.0.2"));
        QVERIFY(!file.hasSection(QStringLiteral("ServerItem1")));
        QCOMPARE(file.readInteger(QStringLiteral("MISC"), QStringLiteral("MaxServerId"), 0), 3);
    }

    // When the file cannot be written, memory stays as it was: memory and file agree.
    void failedWritesLeaveMemoryAsItWas()
    {
        const int group = AddGroup(QStringLiteral("g"));
        PSvrItem server = AddSvrItem(TestSettings(QStringLiteral("127.0.0.1")), group, QStringLiteral("d"));
        const std::vector<std::pair<const char *, std::function<void()>>> operations = {
            {"AddGroup", [] { AddGroup(QStringLiteral("h")); }},
            {"RegisterGroup", [] { RegisterGroup(TSvrGroup{9, QStringLiteral("nine")}); }},
            {"RenameGroup", [&] { RenameGroup(group, QStringLiteral("renamed")); }},
            {"DeleteGroup", [&] { DeleteGroup(group); }},
            {"AddSvrItem", [] { AddSvrItem(TestSettings(QStringLiteral("127.0.0.2")), -1, {}); }},
            {"UpdateSvrItem", [&] { UpdateSvrItem(server->Id, TestSettings(QStringLiteral("127.0.0.9")), QStringLiteral("x")); }},
            {"SetSvrGroup", [&] { SetSvrGroup(server->Id, QStringLiteral("未分组")); }},
            {"DeleteSvrItem", [&] { DeleteSvrItem(server); }},
        };
        const QString before = DumpCatalogue();
        const QByteArray fileBefore = dir->read();
        QVERIFY(QFile::setPermissions(dir->path(), QFile::ReadOwner));
        for (const auto &[name, operation] : operations) {
            try {
                operation();
                QFAIL(name);
            } catch (const AppError &error) {
                QCOMPARE(error.message(), QStringLiteral("Unable to write to %1\n原因：文件为只读。").arg(dir->path()));
            }
            QVERIFY2(DumpCatalogue() == before, name);
        }
        QCOMPARE(dir->read(), fileBefore);
    }

    void colourDepthTable()
    {
        QCOMPARE(IndexOfInt(24, ColorDepthValues), 3);
        QCOMPARE(IndexOfInt(12, ColorDepthValues), -1);
        QCOMPARE(ColorDepthNames[DefaultColorDepthIndex], QStringLiteral("True Color (24 bit)"));
        QCOMPARE(ColorDepthValues[DefaultColorDepthIndex], TClientSettings{}.ColorDepth);
    }
};

QTEST_GUILESS_MAIN(TestRdpCommon)
#include "tst_rdpcommon.moc"
