#include "AppError.h"
#include "IniDocument.h"
#include "IniEncoding.h"
#include "IniFile.h"
#include "IniValue.h"
#include "TempCatalogue.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
unsigned modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0xFFFFu;
}
} // namespace

class TestIniFile : public QObject {
    Q_OBJECT

private slots:
    void integers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // -999 stands for "no number"
        QTest::newRow("decimal") << "3389" << 3389;
        QTest::newRow("negative") << "-5" << -5;
        QTest::newRow("plus") << "+7" << 7;
        QTest::newRow("leading blanks") << "   42" << 42;
        QTest::newRow("0x") << "0x0D3D" << 3389;
        QTest::newRow("0X") << "0X0d3d" << 3389;
        QTest::newRow("x") << "xff" << 255;
        QTest::newRow("dollar") << "$10" << 16;
        QTest::newRow("negative hex") << "-$10" << -16;
        QTest::newRow("eight hex digits wrap") << "$FFFFFFFF" << -1;
        QTest::newRow("leading zeros not significant") << "$00000000010" << 16;
        QTest::newRow("nine hex digits") << "$100000000" << -999;
        QTest::newRow("int max") << "2147483647" << 2147483647;
        QTest::newRow("int min") << "-2147483648" << int(-2147483648LL);
        QTest::newRow("beyond int max") << "2147483648" << -999;
        QTest::newRow("far beyond") << "99999999999999999999" << -999;
        QTest::newRow("letters") << "abc" << -999;
        QTest::newRow("word true") << "true" << -999;
        QTest::newRow("trailing junk") << "12a" << -999;
        QTest::newRow("empty") << "" << -999;
        QTest::newRow("sign only") << "-" << -999;
        QTest::newRow("prefix only") << "0x" << -999;
    }
    void integers()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QCOMPARE(ParseIniInteger(text).value_or(-999), expected);
    }

    void readsKeysRegardlessOfCaseFirstWins()
    {
        const auto doc = IniDocument::fromBytes("; comment\n[misc]\nmaxgroupid = 4 \n[MISC]\nMaxGroupID=9\n"
                                                "[S]\n  Key  =  a b  \nkey=second\nnoequals\n");
        QCOMPARE(doc.readInteger(QStringLiteral("MISC"), QStringLiteral("MaxGroupID"), 0), 4);
        QCOMPARE(doc.readString(QStringLiteral("s"), QStringLiteral("KEY"), QStringLiteral("x")), QStringLiteral("a b"));
        QCOMPARE(doc.readString(QStringLiteral("s"), QStringLiteral("other"), QStringLiteral("x")), QStringLiteral("x"));
        QCOMPARE(doc.readString(QStringLiteral("nosuch"), QStringLiteral("key"), QStringLiteral("x")), QStringLiteral("x"));
    }

    void booleans()
    {
        const auto doc = IniDocument::fromBytes("[S]\nA=2\nB=true\nC=0\nD=\n");
        QCOMPARE(doc.readBool(QStringLiteral("S"), QStringLiteral("A"), false), true);
        QCOMPARE(doc.readBool(QStringLiteral("S"), QStringLiteral("B"), false), false);
        QCOMPARE(doc.readBool(QStringLiteral("S"), QStringLiteral("B"), true), true);
        QCOMPARE(doc.readBool(QStringLiteral("S"), QStringLiteral("C"), true), false);
        QCOMPARE(doc.readBool(QStringLiteral("S"), QStringLiteral("D"), true), true);
        QCOMPARE(doc.readBool(QStringLiteral("S"), QStringLiteral("missing"), false), false);
    }

    void sectionPresentOnlyWithAKey()
    {
        const auto doc = IniDocument::fromBytes("[Empty]\n\n; just a note\n[Full]\nk=\n");
        QVERIFY(!doc.hasSection(QStringLiteral("Empty")));
        QVERIFY(doc.hasSection(QStringLiteral("full")));
        QCOMPARE(doc.sectionNames(), QStringList{QStringLiteral("Full")});
    }

    // A document holds the file's bytes as its own: a change to the buffer it was
    // read from, and the end of the document it was copied from, change nothing
    // that it reads or writes.
    void documentOwnsWhatItRead()
    {
        const QByteArray file("[A]\r\nx=1\r\n[B]\r\ny=2\r\n");
        QByteArray buffer = file;
        buffer.detach();
        auto original = std::make_unique<IniDocument>(
            IniDocument::fromBytes(QByteArray::fromRawData(buffer.constData(), buffer.size())));
        buffer.fill('#');
        QCOMPARE(original->readInteger(QStringLiteral("A"), QStringLiteral("x"), 0), 1);
        const IniDocument copy = *original;
        original->writeInteger(QStringLiteral("A"), QStringLiteral("x"), 5);
        QCOMPARE(original->toBytes(), QByteArray("[A]\r\nx=5\r\n[B]\r\ny=2\r\n"));
        original.reset();
        QCOMPARE(copy.readInteger(QStringLiteral("A"), QStringLiteral("x"), 0), 1);
        QCOMPARE(copy.toBytes(), file);
        IniDocument changed = copy;
        changed.writeInteger(QStringLiteral("B"), QStringLiteral("y"), 3);
        QCOMPARE(changed.toBytes(), QByteArray("[A]\r\nx=1\r\n[B]\r\ny=3\r\n"));
        QCOMPARE(copy.toBytes(), file);
    }

    void writesInPlaceAppendsAndErases()
    {
        auto doc = IniDocument::fromBytes("[A]\nx=1\ny=2\n\n[B]\nz=3\n\n");
        doc.writeString(QStringLiteral("a"), QStringLiteral("X"), QStringLiteral("10"));  // in place, keeps the key as written
        doc.writeString(QStringLiteral("A"), QStringLiteral("w"), QStringLiteral("new")); // end of its section, before the blank line
        doc.writeInteger(QStringLiteral("C"), QStringLiteral("n"), -1);                   // new section at the end
        doc.eraseSection(QStringLiteral("b"));
        QCOMPARE(doc.toBytes(), QByteArray("[A]\nx=10\ny=2\nw=new\n\n[C]\nn=-1\n"));
        QVERIFY(doc.isModified());
    }

    // Everything a change does not touch stays as the file had it: line ends,
    // comments, lines above the first header, stray carriage returns.
    void changesKeepTheRestOfTheFile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("crlf") << QByteArray("[A]\r\nx=1\r\ny=2\r\n")
                              << QByteArray("[A]\r\nx=9\r\ny=2\r\n\r\n[N]\r\nn=1\r\n");
        QTest::newRow("no final line end") << QByteArray("[A]\nx=1") << QByteArray("[A]\nx=9\n\n[N]\nn=1\n");
        QTest::newRow("no final line end, crlf")
            << QByteArray("[A]\r\ny=1") << QByteArray("[A]\r\ny=1\r\nX=9\r\n\r\n[N]\r\nn=1\r\n");
        QTest::newRow("lines above the first header")
            << QByteArray("; top\n\n[A]\n; c\nx=1\n") << QByteArray("; top\n\n[A]\n; c\nx=9\n\n[N]\nn=1\n");
        QTest::newRow("key into a section with no key")
            << QByteArray("[A]\n\n[B]\nb=1\n") << QByteArray("[A]\nX=9\n\n[B]\nb=1\n\n[N]\nn=1\n");
        QTest::newRow("stray carriage returns")
            << QByteArray("[A]\r\nd=a\rb\r\ny=1\r\r\n")
            << QByteArray("[A]\r\nd=a\rb\r\ny=1\r\r\nX=9\r\n\r\n[N]\r\nn=1\r\n");
        QTest::newRow("header alone at the end")
            << QByteArray("[A]\nx=1\n[Z]") << QByteArray("[A]\nx=9\n[Z]\n\n[N]\nn=1\n");
        QTest::newRow("blank lines kept after the new key")
            << QByteArray("[A]\ny=1\n\n\n[B]\nb=2\n\n") << QByteArray("[A]\ny=1\nX=9\n\n\n[B]\nb=2\n\n[N]\nn=1\n");
    }

    void changesKeepTheRestOfTheFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, expected);
        auto doc = IniDocument::fromBytes(file);
        if (file.endsWith('\n'))
            QCOMPARE(doc.toBytes(), file);
        doc.writeString(QStringLiteral("a"), QStringLiteral("X"), QStringLiteral("9"));
        doc.writeInteger(QStringLiteral("N"), QStringLiteral("n"), 1);
        QCOMPARE(doc.toBytes(), expected);
        const auto reread = IniDocument::fromBytes(doc.toBytes());
        QCOMPARE(reread.readInteger(QStringLiteral("A"), QStringLiteral("x"), 0), 9);
        QCOMPARE(reread.readInteger(QStringLiteral("a"), QStringLiteral("X"), 0), 9);
        QCOMPARE(reread.readInteger(QStringLiteral("N"), QStringLiteral("n"), 0), 1);
    }

    void newSectionInEmptyFileHasNoBlankLineAbove()
    {
        IniDocument doc;
        doc.writeString(QStringLiteral("MISC"), QStringLiteral("MaxGroupID"), QStringLiteral("1"));
        doc.writeString(QStringLiteral("GroupItem1"), QStringLiteral("GroupName"), QStringLiteral("g"));
        QCOMPARE(doc.toBytes(), NewFileBytes(QStringLiteral("[MISC]\r\nMaxGroupID=1\r\n\r\n[GroupItem1]\r\nGroupName=g\r\n")));
    }

    void erasingRevealsALaterSectionOfTheSameName()
    {
        auto doc = IniDocument::fromBytes("[S]\nk=first\n[s]\nk=second\n");
        doc.eraseSection(QStringLiteral("S"));
        QCOMPARE(doc.readString(QStringLiteral("S"), QStringLiteral("k"), {}), QStringLiteral("second"));
    }

    // Among many sections, read and added, each is found by its name in any case,
    // the first of two of one name counts until it is erased, and an erased one is
    // gone; in every encoding.
    void manySectionsFoundByName_data()
    {
        QTest::addColumn<QByteArray>("mark");
        QTest::newRow("UTF-8") << QByteArray();
        QTest::newRow("UTF-16") << QByteArray("\xFF\xFE", 2);
    }

    void manySectionsFoundByName()
    {
        QFETCH(QByteArray, mark);
        QString text;
        for (int i = 0; i < 3000; ++i)
            text += QStringLiteral("[ServerItem%1]\r\nUser=用户%1\r\n").arg(i);
        text += QStringLiteral("[serveritem7]\r\nUser=second\r\n");
        const QByteArray bytes = mark.isEmpty() ? text.toUtf8() : mark + EncodeIniBody(text, IniEncoding::Utf16LeBom);
        auto doc = IniDocument::fromBytes(bytes);
        for (int i = 0; i < 3000; i += 7)
            QCOMPARE(doc.readString(i % 2 ? QStringLiteral("SERVERITEM%1").arg(i) : QStringLiteral("serverItem%1").arg(i),
                                    QStringLiteral("user"), {}),
                     QStringLiteral("用户%1").arg(i));
        for (int i = 3000; i < 3100; ++i)
            doc.writeString(QStringLiteral("ServerItem%1").arg(i), QStringLiteral("User"), QStringLiteral("新%1").arg(i));
        for (int i = 2990; i < 3100; ++i)
            QCOMPARE(doc.readString(QStringLiteral("serveritem%1").arg(i), QStringLiteral("User"), {}),
                     i < 3000 ? QStringLiteral("用户%1").arg(i) : QStringLiteral("新%1").arg(i));
        QCOMPARE(doc.sectionNames().size(), 3100);
        doc.eraseSection(QStringLiteral("SERVERITEM7"));
        QCOMPARE(doc.readString(QStringLiteral("ServerItem7"), QStringLiteral("User"), {}), QStringLiteral("second"));
        doc.eraseSection(QStringLiteral("ServerItem7"));
        doc.eraseSection(QStringLiteral("ServerItem3050"));
        QVERIFY(!doc.hasSection(QStringLiteral("ServerItem7")));
        QVERIFY(!doc.hasSection(QStringLiteral("ServerItem3050")));
        QVERIFY(doc.hasSection(QStringLiteral("ServerItem3051")));
        QCOMPARE(doc.sectionNames().size(), 3098);
        doc.writeString(QStringLiteral("ServerItem3050"), QStringLiteral("User"), QStringLiteral("again"));
        const auto reread = IniDocument::fromBytes(doc.toBytes());
        QCOMPARE(reread.readString(QStringLiteral("ServerItem3050"), QStringLiteral("User"), {}), QStringLiteral("again"));
        QCOMPARE(reread.readString(QStringLiteral("ServerItem3051"), QStringLiteral("User"), {}), QStringLiteral("新3051"));
        QCOMPARE(reread.encoding(), mark.isEmpty() ? IniEncoding::Utf8 : IniEncoding::Utf16LeBom);
    }

    // A value can never add lines, and so never sections or keys, to the file.
    void lineBreaksInValuesCannotInjectLines()
    {
        IniDocument doc;
        doc.writeString(QStringLiteral("S"), QStringLiteral("Description"), QStringLiteral("one\r\n[MISC]\nMaxServerId=99"));
        const auto reread = IniDocument::fromBytes(doc.toBytes());
        QCOMPARE(reread.sectionNames(), QStringList{QStringLiteral("S")});
        QCOMPARE(reread.readString(QStringLiteral("S"), QStringLiteral("Description"), {}), QStringLiteral("one  [MISC] MaxServerId=99"));
    }

    void longValuesReadWhole()
    {
        const QString longText(3000, QChar(u'长'));
        IniDocument doc;
        doc.writeString(QStringLiteral("S"), QStringLiteral("Description"), longText);
        QCOMPARE(IniDocument::fromBytes(doc.toBytes()).readString(QStringLiteral("S"), QStringLiteral("Description"), {}), longText);
    }

    void encodingsDetectedAndKept_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("encoding");
        QTest::newRow("gb18030") << "SvrList-gb18030.ini" << int(IniEncoding::Gb18030);
        QTest::newRow("utf16le") << "SvrList-utf16le-bom.ini" << int(IniEncoding::Utf16LeBom);
        QTest::newRow("utf8") << "SvrList-utf8.ini" << int(IniEncoding::Utf8);
    }
    void encodingsDetectedAndKept()
    {
        QFETCH(QString, file);
        QFETCH(int, encoding);
        const QByteArray original = TempCatalogue::dataFile(file);
        auto doc = IniDocument::fromBytes(original);
        QCOMPARE(int(doc.encoding()), encoding);
        QCOMPARE(doc.readString(QStringLiteral("GroupItem1"), QStringLiteral("GroupName"), {}), QStringLiteral("生产服务器"));
        // Unchanged content writes back byte for byte, line ends included.
        QCOMPARE(doc.toBytes(), original);
        doc.writeString(QStringLiteral("GroupItem3"), QStringLiteral("GroupName"), QStringLiteral("新名字😀"));
        const auto reread = IniDocument::fromBytes(doc.toBytes());
        QCOMPARE(int(reread.encoding()), encoding);
        QCOMPARE(reread.readString(QStringLiteral("GroupItem3"), QStringLiteral("GroupName"), {}), QStringLiteral("新名字😀"));
        QVERIFY(doc.toBytes().contains(encoding == int(IniEncoding::Utf16LeBom) ? QByteArray("\r\0\n\0", 4) : "\r\n"));
    }

    void utf8WithBomKeepsIt()
    {
        auto doc = IniDocument::fromBytes("\xEF\xBB\xBF[S]\nk=\xE4\xB8\xAD\n");
        QCOMPARE(int(doc.encoding()), int(IniEncoding::Utf8Bom));
        QCOMPARE(doc.readString(QStringLiteral("S"), QStringLiteral("k"), {}), QStringLiteral("中"));
        doc.writeString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("x"));
        QVERIFY(doc.toBytes().startsWith("\xEF\xBB\xBF[S]"));
    }

    // A new file is in the form the Windows profile functions read as Unicode.
    // One pair of matching quotes around a value is dropped, as Windows reads it.
    void quotedValues_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("double") << "k=\"host.example\""
                                << "host.example";
        QTest::newRow("single") << "k='3389'"
                                << "3389";
        QTest::newRow("blanks outside") << "k =  \"a\"  "
                                        << "a";
        QTest::newRow("blanks inside kept") << "k=\" a b \""
                                            << " a b ";
        QTest::newRow("empty quotes") << "k=\"\""
                                      << "";
        QTest::newRow("one pair only") << "k=\"\"x\"\""
                                       << "\"x\"";
        QTest::newRow("unmatched") << "k=\"admin"
                                   << "\"admin";
        QTest::newRow("mismatched") << "k=\"800'"
                                    << "\"800'";
        QTest::newRow("lone quote") << "k=\""
                                    << "\"";
        QTest::newRow("inner quotes") << "k=a \"b\" c"
                                      << "a \"b\" c";
    }
    void quotedValues()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        const auto doc = IniDocument::fromBytes((QStringLiteral("[S]\r\n") + line + QStringLiteral("\r\n")).toUtf8());
        QCOMPARE(doc.readString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("missing")), expected);
    }

    // A value that would not read back as it is gets quotes of its own.
    void everyValueReadsBackAsWritten_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("stored");
        QTest::newRow("plain") << "a b"
                               << "a b";
        QTest::newRow("quoted") << "\"x\""
                                << "\"\"x\"\"";
        QTest::newRow("single quoted") << "'x'"
                                       << "\"'x'\"";
        QTest::newRow("leading blank") << " x"
                                       << "\" x\"";
        QTest::newRow("trailing blank") << "x "
                                        << "\"x \"";
        QTest::newRow("one quote") << "\""
                                   << "\"";
        QTest::newRow("empty") << ""
                               << "";
    }
    void everyValueReadsBackAsWritten()
    {
        QFETCH(QString, value);
        QFETCH(QString, stored);
        IniDocument doc;
        doc.writeString(QStringLiteral("S"), QStringLiteral("k"), value);
        const auto reread = IniDocument::fromBytes(doc.toBytes());
        QCOMPARE(reread.readString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("missing")), value);
        QCOMPARE(DecodeIniText(doc.toBytes()).text, QStringLiteral("[S]\r\nk=") + stored + QStringLiteral("\r\n"));
    }

    // Files without a byte-order mark: UTF-8 as earlier versions wrote them, or the
    // Windows code page, even where its bytes happen to be valid UTF-8.
    void encodingDetected_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        const auto data = [](const char *name) { return TempCatalogue::dataFile(QString::fromUtf8(name)); };
        QTest::newRow("gb18030 that is valid utf-8, 1")
            << data("gb18030-valid-utf8.ini") << int(IniEncoding::Gb18030) << "GroupItem1"
            << "GroupName"
            << "医院";
        QTest::newRow("gb18030 that is valid utf-8, 2")
            << data("gb18030-valid-utf8.ini") << int(IniEncoding::Gb18030) << "GroupItem2"
            << "GroupName"
            << "证券";
        QTest::newRow("utf-8 with a stray byte")
            << data("stray-byte-utf8.ini") << int(IniEncoding::Utf8) << "ServerItem2"
            << "User"
            << "测试用户";
        QTest::newRow("utf-8 with a stray byte, its own line")
            << data("stray-byte-utf8.ini") << int(IniEncoding::Utf8) << "ServerItem1"
            << "Description"
            << "主站 \uFFFD 服务器";
        QTest::newRow("gb18030 with a stray byte")
            << data("stray-byte-gb18030.ini") << int(IniEncoding::Gb18030) << "GroupItem1"
            << "GroupName"
            << "生产服务器";
        QTest::newRow("utf-8 section in a gb18030 file")
            << data("mixed-gb18030-utf8.ini") << int(IniEncoding::Gb18030) << "ServerItem3"
            << "User"
            << "运维";
        QTest::newRow("gb18030 around it")
            << data("mixed-gb18030-utf8.ini") << int(IniEncoding::Gb18030) << "ServerItem2"
            << "User"
            << "测试用户";
        QTest::newRow("ascii") << QByteArray("[S]\nk=v\n") << int(IniEncoding::Utf8) << "S"
                               << "k"
                               << "v";
        QTest::newRow("utf-8 latin letters")
            << QByteArray("[S]\nk=p\xC3\xA4sswo\xCC\x88rd\n") << int(IniEncoding::Utf8) << "S"
            << "k"
            << QString::fromUtf8("p\xC3\xA4sswo\xCC\x88rd");
        QTest::newRow("utf-8 traditional hanzi")
            << QString(QStringLiteral("[S]\nk=臺灣資料庫伺服器\n")).toUtf8() << int(IniEncoding::Utf8) << QStringLiteral("S") << QStringLiteral("k") << QStringLiteral("臺灣資料庫伺服器");
        QTest::newRow("utf-8 hanzi and emoji")
            << QString(QStringLiteral("[S]\nk=机房😀\n")).toUtf8() << int(IniEncoding::Utf8) << QStringLiteral("S") << QStringLiteral("k") << QStringLiteral("机房😀");
        QTest::newRow("utf-8 with a mark")
            << QByteArray("\xEF\xBB\xBF[S]\nk=\xE4\xB8\xAD\n") << int(IniEncoding::Utf8Bom) << "S"
            << "k"
            << "中";
    }
    void encodingDetected()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, encoding);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        const auto doc = IniDocument::fromBytes(bytes);
        QCOMPARE(int(doc.encoding()), encoding);
        QCOMPARE(doc.readString(section, key, QStringLiteral("missing")), expected);
        QCOMPARE(doc.toBytes(), bytes);
    }

    // A change rewrites the bytes of its own line only; every other byte stays,
    // undecodable ones and lines in another encoding included.
    void untouchedBytesStay_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("oldLine");
        for (const char *file : {"SvrList-gb18030.ini", "SvrList-utf16le-bom.ini", "SvrList-utf8.ini",
                                 "gb18030-valid-utf8.ini", "stray-byte-utf8.ini", "stray-byte-gb18030.ini",
                                 "mixed-gb18030-utf8.ini", "quoted.ini"}) {
            const auto doc = IniDocument::fromBytes(TempCatalogue::dataFile(QString::fromUtf8(file)));
            const QString name = doc.readString(QStringLiteral("GroupItem1"), QStringLiteral("GroupName"), {});
            const QString line = QStringLiteral("GroupName=") + (QLatin1String(file) == QLatin1String("quoted.ini") ? QLatin1Char('"') + name + QLatin1Char('"') : name);
            QTest::newRow(file) << file << line;
        }
    }
    void untouchedBytesStay()
    {
        QFETCH(QString, file);
        QFETCH(QString, oldLine);
        const QByteArray original = TempCatalogue::dataFile(file);
        auto doc = IniDocument::fromBytes(original);
        const IniEncoding encoding = doc.encoding();
        const QByteArray oldBytes = EncodeIniBody(oldLine + QStringLiteral("\r\n"), encoding);
        QCOMPARE(original.count(oldBytes), 1);
        QByteArray expected = original;
        expected.replace(oldBytes, EncodeIniBody(QStringLiteral("GroupName=改名😀\r\n"), encoding));

        doc.writeString(QStringLiteral("groupitem1"), QStringLiteral("groupname"), QStringLiteral("改名😀"));
        QCOMPARE(doc.toBytes(), expected);
        // A new section goes after every byte of the file.
        doc.writeString(QStringLiteral("GroupItem9"), QStringLiteral("GroupName"), QStringLiteral("新"));
        QVERIFY(doc.toBytes().startsWith(expected));
        QCOMPARE(IniDocument::fromBytes(doc.toBytes()).readString(QStringLiteral("GroupItem9"), QStringLiteral("GroupName"), {}), QStringLiteral("新"));
        // Erasing a section takes its bytes and nothing else; the blank line that set it off stays.
        doc.eraseSection(QStringLiteral("GroupItem9"));
        QCOMPARE(doc.toBytes(), expected + EncodeIniBody(QStringLiteral("\r\n"), encoding));
        const auto reread = IniDocument::fromBytes(doc.toBytes());
        QCOMPARE(int(reread.encoding()), int(encoding));
        QCOMPARE(reread.readString(QStringLiteral("GroupItem1"), QStringLiteral("GroupName"), {}), QStringLiteral("改名😀"));
    }

    // Windows reads the first section of a name, even one without keys.
    void duplicateSectionsReadTheFirst()
    {
        const auto doc = IniDocument::fromBytes(TempCatalogue::dataFile(QStringLiteral("duplicate-sections.ini")));
        QCOMPARE(doc.sectionNames(), (QStringList{QStringLiteral("MISC"), QStringLiteral("ServerItem3")}));
        QVERIFY(!doc.hasSection(QStringLiteral("ServerItem2")));
        QCOMPARE(doc.readString(QStringLiteral("ServerItem2"), QStringLiteral("Server"), QStringLiteral("none")), QStringLiteral("none"));
        QCOMPARE(doc.readString(QStringLiteral("ServerItem3"), QStringLiteral("Server"), {}), QStringLiteral("127.0.0.28"));
        QCOMPARE(doc.readString(QStringLiteral("ServerItem3"), QStringLiteral("User"), QStringLiteral("none")), QStringLiteral("none"));
    }

    // A file cut off inside a character or a line, as a truncated copy leaves it: a
    // section added below it starts on a line and at a whole unit of its own and reads
    // back as written, the file's bytes stay in front of it, and every line of the
    // file reads as it did.
    void appendsAfterAnUndecodableTail_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("filler"); // what completes the last unit before the new line end
        const QByteArray none;
        const QByteArray highSurrogate("\xD8");
        QTest::newRow("utf-16, odd byte") << TempCatalogue::dataFile(QStringLiteral("tail-utf16-odd-byte.ini")) << highSurrogate;
        QTest::newRow("utf-16, odd byte after a value")
            << NewFileBytes(QStringLiteral("[S]\r\nWidth=1")) + QByteArray("\xA7") << highSurrogate;
        QTest::newRow("utf-16, odd byte after a high surrogate")
            << NewFileBytes(QStringLiteral("[S]\r\nk=a")) + QByteArray("\x3D\xD8\xA7", 3) << highSurrogate;
        QTest::newRow("utf-16, odd byte after a low surrogate")
            << NewFileBytes(QStringLiteral("[S]\r\nk=a")) + QByteArray("\x3D\xDC\xA7", 3) << highSurrogate;
        QTest::newRow("utf-16, odd byte alone") << QByteArray("\xFF\xFE\xA7", 3) << highSurrogate;
        QTest::newRow("gb18030, lone lead byte") << TempCatalogue::dataFile(QStringLiteral("tail-gb18030-lead-byte.ini")) << none;
        QTest::newRow("gb18030, four-byte character cut")
            << QStringLiteral("[S]\r\nk=生产\r\nd=").toUtf8().replace("生产", QByteArray("\xC9\xFA\xB2\xFA")) + QByteArray("\x81\x30\x81")
            << none;
        QTest::newRow("utf-8, character cut") << TempCatalogue::dataFile(QStringLiteral("tail-utf8-cut-character.ini")) << none;
        QTest::newRow("no line break") << QByteArray("[S]\r\nk=v") << none;
        QTest::newRow("carriage return last") << QByteArray("[S]\r\nk=v\r") << none;
        for (const char byte : {'\xA8', '\xFC', '\xFE', '\x91'})
            QTest::addRow("one byte %02X", unsigned(static_cast<unsigned char>(byte))) << QByteArray(1, byte) << none;
    }
    void appendsAfterAnUndecodableTail()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, filler);
        auto doc = IniDocument::fromBytes(file);
        const IniEncoding encoding = doc.encoding();
        const QString textBefore = DecodeIniText(file).text;
        doc.writeString(QStringLiteral("ServerItem8"), QStringLiteral("Description"), QStringLiteral("新服务器"));
        doc.writeInteger(QStringLiteral("ServerItem8"), QStringLiteral("Width"), 1280);
        const QByteArray after = doc.toBytes();

        QVERIFY(after.startsWith(file + filler));
        QCOMPARE((file.size() + filler.size()) % IniUnitSize(encoding), 0);
        const QString added = DecodeIniBytes(QByteArrayView(after).sliced(file.size() + filler.size()), encoding);
        QVERIFY2(added.startsWith(u'\n') || added.startsWith(QStringLiteral("\r\n")), qPrintable(added));

        const auto reread = IniDocument::fromBytes(after);
        QCOMPARE(int(reread.encoding()), int(encoding));
        QCOMPARE(reread.readString(QStringLiteral("ServerItem8"), QStringLiteral("Description"), {}), QStringLiteral("新服务器"));
        QCOMPARE(reread.readInteger(QStringLiteral("ServerItem8"), QStringLiteral("Width"), 0), 1280);
        const QString textAfter = DecodeIniText(after).text;
        QVERIFY2(textAfter.startsWith(textBefore), qPrintable(textAfter.left(textBefore.size())));
    }

    // A line reads the same whether or not the file ends with it.
    void cutCharacterReadsTheSameWithOrWithoutALineEnd_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("gb18030 lead byte") << QByteArray("\xC9\xFA\xB2\xFA w=1\xA7");
        QTest::newRow("gb18030 four-byte start") << QByteArray("\xC9\xFA\xB2\xFA w=\x81\x30");
        QTest::newRow("utf-8 lead byte") << QByteArray("\xE7\x94\x9F w=1\xE6");
    }
    void cutCharacterReadsTheSameWithOrWithoutALineEnd()
    {
        QFETCH(QByteArray, line);
        const DecodedText last = DecodeIniText(QByteArray("[S]\n") + line);
        const DecodedText ended = DecodeIniText(QByteArray("[S]\n") + line + "\n");
        QCOMPARE(last.text + u'\n', ended.text);
        QVERIFY(last.text.contains(QChar(QChar::ReplacementCharacter)));
    }

    void newFileIsPrivateAndUtf16()
    {
        TempCatalogue dir;
        IniFile file(dir.path());
        QCOMPARE(file.current().sectionNames(), QStringList());
        file.update([](IniDocument &doc) { doc.writeString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("中文")); });
        QCOMPARE(dir.read(), NewFileBytes(QStringLiteral("[S]\r\nk=中文\r\n")));
        QCOMPARE(modeOf(dir.path()), 0600u);
        // No temporary file is left behind.
        QCOMPARE(QDir(dir.folder()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("SvrList.ini")});
    }

    void rewriteKeepsModeAndSeesOtherWriters()
    {
        TempCatalogue dir;
        dir.write("[A]\nk=1\n");
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        IniFile file(dir.path());
        QCOMPARE(file.current().readInteger(QStringLiteral("A"), QStringLiteral("k"), 0), 1);
        // Another copy of the program changes the file meanwhile.
        IniFile other(dir.path());
        other.update([](IniDocument &doc) { doc.writeString(QStringLiteral("B"), QStringLiteral("k"), QStringLiteral("2")); });
        file.update([](IniDocument &doc) { doc.writeString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("3")); });
        QCOMPARE(dir.read(), QByteArray("[A]\nk=3\n\n[B]\nk=2\n"));
        QCOMPARE(file.current().readInteger(QStringLiteral("B"), QStringLiteral("k"), 0), 2);
        QCOMPARE(modeOf(dir.path()), 0640u);
    }

    // A file of many sections reaches the disk whole, in the order the document holds it.
    void manySectionsWrittenWhole()
    {
        TempCatalogue dir;
        IniFile file(dir.path());
        QByteArray expected;
        file.update([&](IniDocument &doc) {
            for (int i = 0; i < 1500; ++i)
                doc.writeInteger(QStringLiteral("ServerItem%1").arg(i), QStringLiteral("Port"), i);
            doc.eraseSection(QStringLiteral("ServerItem700"));
            expected = doc.toBytes();
        });
        QCOMPARE(dir.read(), expected);
        QCOMPARE(file.current().sectionNames().size(), 1499);
    }

    void noChangeWritesNothing()
    {
        TempCatalogue dir;
        dir.write("[A]\nk=1\n");
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner));
        IniFile file(dir.path());
        file.update([](IniDocument &) {}); // read-only, but nothing to write: no error
        QCOMPARE(dir.read(), QByteArray("[A]\nk=1\n"));
    }

    void refusedWritesLeaveTheFileAsItWas_data()
    {
        QTest::addColumn<bool>("readOnlyFolder");
        QTest::addColumn<bool>("readOnlyFile");
        QTest::addColumn<bool>("unreadableFile");
        QTest::addColumn<QString>("cause");
        QTest::newRow("read-only file") << false << true << false << QStringLiteral("文件为只读");
        QTest::newRow("read-only folder") << true << false << false << QStringLiteral("文件所在的文件夹为只读");
        QTest::newRow("unreadable file") << false << false << true << QStringLiteral("没有访问权限");
    }
    void refusedWritesLeaveTheFileAsItWas()
    {
        QFETCH(bool, readOnlyFolder);
        QFETCH(bool, readOnlyFile);
        QFETCH(bool, unreadableFile);
        QFETCH(QString, cause);
        TempCatalogue dir;
        dir.write("[A]\nk=1\n");
        if (unreadableFile) {
            if (::geteuid() == 0)
                QSKIP("root reads every file");
            QVERIFY(QFile::setPermissions(dir.path(), QFile::WriteOwner));
        }
        if (readOnlyFile)
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ReadUser));
        if (readOnlyFolder)
            QVERIFY(QFile::setPermissions(dir.folder(), QFile::ReadOwner | QFile::ExeOwner));
        IniFile file(dir.path());
        try {
            file.update([](IniDocument &doc) { doc.writeString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("2")); });
            QFAIL("the write was not refused");
        } catch (const AppError &error) {
            QCOMPARE(error.message(), QStringLiteral("Unable to write to %1\n原因：%2。").arg(dir.path(), cause));
        }
        QVERIFY(QFile::setPermissions(dir.folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(dir.read(), QByteArray("[A]\nk=1\n"));
        QCOMPARE(QDir(dir.folder()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("SvrList.ini")});
        // The handle reads the file as it is, not the refused change.
        QCOMPARE(file.current().readInteger(QStringLiteral("A"), QStringLiteral("k"), 0), 1);
    }

    // A symbolic link stays a link; the change reaches the file it names.
    void writesThroughSymbolicLinks_data()
    {
        QTest::addColumn<QStringList>("links"); // each names the next; the last names the file
        QTest::addColumn<bool>("targetExists");
        QTest::newRow("relative link") << QStringList{QStringLiteral("real/SvrList.ini")} << true;
        QTest::newRow("chain of links") << QStringList{QStringLiteral("second.ini"), QStringLiteral("real/SvrList.ini")} << true;
        QTest::newRow("absolute link") << QStringList{QStringLiteral("@/real/SvrList.ini")} << true;
        QTest::newRow("link to no file yet") << QStringList{QStringLiteral("real/new.ini")} << false;
    }
    void writesThroughSymbolicLinks()
    {
        QFETCH(QStringList, links);
        QFETCH(bool, targetExists);
        TempCatalogue dir;
        QVERIFY(QDir(dir.folder()).mkdir(QStringLiteral("real")));
        QString link = dir.path();
        for (QString next : links) {
            next.replace(QLatin1Char('@'), dir.folder());
            QVERIFY(::symlink(QFile::encodeName(next).constData(), QFile::encodeName(link).constData()) == 0);
            link = QDir(dir.folder()).absoluteFilePath(next);
        }
        const QString target = link;
        if (targetExists) {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[A]\r\nk=1\r\n");
        }
        IniFile file(dir.path());
        file.update([](IniDocument &doc) { doc.writeString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("2")); });
        QVERIFY(QFileInfo(dir.path()).isSymLink());
        QFile written(target);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(IniDocument::fromBytes(written.readAll()).readInteger(QStringLiteral("A"), QStringLiteral("k"), 0), 2);
        QCOMPARE(file.current().readInteger(QStringLiteral("A"), QStringLiteral("k"), 0), 2);
        // No temporary file is left beside the link or the file.
        QCOMPARE(QDir(dir.folder() + QStringLiteral("/real")).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(target).fileName()});
    }

    // Written by root, the user's file stays the user's, with its group and mode.
    void ownerGroupAndModeStay()
    {
        if (::geteuid() != 0)
            QSKIP("giving a file to another user needs root");
        TempCatalogue dir;
        dir.write("[A]\r\nk=1\r\n");
        const QByteArray path = QFile::encodeName(dir.path());
        QVERIFY(::chown(path.constData(), 65534, 65534) == 0);
        QVERIFY(::chmod(path.constData(), 0640) == 0);
        IniFile(dir.path()).update([](IniDocument &doc) { doc.writeString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("2")); });
        struct stat st {};
        QVERIFY(::stat(path.constData(), &st) == 0);
        QCOMPARE(st.st_uid, uid_t(65534));
        QCOMPARE(st.st_gid, gid_t(65534));
        QCOMPARE(unsigned(st.st_mode & 07777), 0640u);
        QCOMPARE(IniDocument::fromBytes(dir.read()).readInteger(QStringLiteral("A"), QStringLiteral("k"), 0), 2);
    }

    // Something other than a file in the file's place is refused at once, neither
    // waited on (a pipe) nor read without end (a device).
    void nonRegularFilesRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("pipe") << "pipe";
        QTest::newRow("folder") << "folder";
        QTest::newRow("device") << "device";
    }
    void nonRegularFilesRefused()
    {
        QFETCH(QString, kind);
        TempCatalogue dir;
        const QByteArray path = QFile::encodeName(dir.path());
        if (kind == QStringLiteral("pipe"))
            QVERIFY(::mkfifo(path.constData(), 0600) == 0);
        else if (kind == QStringLiteral("folder"))
            QVERIFY(QDir().mkdir(dir.path()));
        else
            QVERIFY(::symlink("/dev/zero", path.constData()) == 0);
        const QString cause = QStringLiteral("\n原因：它不是普通文件，而是文件夹、管道或设备。");
        IniFile file(dir.path());
        try {
            file.current();
            QFAIL("the file was read");
        } catch (const AppError &error) {
            QCOMPARE(error.message(), QStringLiteral("无法读取服务器列表文件 ") + dir.path() + cause);
        }
        try {
            file.update([](IniDocument &doc) { doc.writeString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("1")); });
            QFAIL("the file was written");
        } catch (const AppError &error) {
            QCOMPARE(error.message(), QStringLiteral("Unable to write to ") + dir.path() + cause);
        }
    }

    // A file that cannot be read is reported, never taken for an empty catalogue.
    void unreadableFileIsReported()
    {
        TempCatalogue dir;
        dir.write("[MISC]\r\nMaxGroupID=1\r\n[GroupItem1]\r\nGroupName=g\r\n");
        QVERIFY(QFile::setPermissions(dir.path(), QFile::WriteOwner));
        const QString expected = QStringLiteral("无法读取服务器列表文件 %1\n原因：没有访问权限。").arg(dir.path());
        if (::geteuid() != 0) {
            QVERIFY_THROWS_EXCEPTION(AppError, IniFile(dir.path()).current());
            try {
                IniFile(dir.path()).current();
            } catch (const AppError &error) {
                QCOMPARE(error.message(), expected);
            }
            return;
        }
        // Root reads every file: the program runs as an ordinary user instead.
        QVERIFY(QFile::setPermissions(dir.folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
        QProcess writer;
        writer.start(QStringLiteral("setpriv"), {
                                                    QStringLiteral("--reuid=65534"),
                                                    QStringLiteral("--regid=65534"),
                                                    QStringLiteral("--clear-groups"),
                                                    QStringLiteral(BRENNIC_CATALOGUE_WRITER),
                                                    QStringLiteral("add"),
                                                    dir.path(),
                                                    QStringLiteral("t"),
                                                    QStringLiteral("1"),
                                                });
        if (!writer.waitForStarted(5000))
            QSKIP("setpriv is not installed");
        QVERIFY(writer.waitForFinished(30000));
        QCOMPARE(writer.exitCode(), 1);
        QCOMPARE(QString::fromUtf8(writer.readAllStandardError()).trimmed(), expected);
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(dir.read().endsWith("GroupName=g\r\n"));
    }

    // Another process that holds the lock for more than 5 s makes the change fail, and says so.
    void lockHeldTooLongIsACause()
    {
        TempCatalogue dir;
        dir.write("[A]\r\nk=1\r\n");
        const int held = ::open(QFile::encodeName(dir.folder()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        QVERIFY(held >= 0);
        QVERIFY(::flock(held, LOCK_EX) == 0);
        QElapsedTimer waited;
        waited.start();
        try {
            IniFile(dir.path()).update([](IniDocument &doc) { doc.writeString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("2")); });
            QFAIL("the write went past the lock");
        } catch (const AppError &error) {
            QCOMPARE(error.message(),
                     QStringLiteral("Unable to write to %1\n原因：文件被另一个进程锁定已超过 5 秒。").arg(dir.path()));
        }
        QVERIFY(waited.elapsed() >= 5000);
        ::close(held);
        QCOMPARE(dir.read(), QByteArray("[A]\r\nk=1\r\n"));
    }

    // A program started while the file is being written does not inherit the temporary file.
    void temporaryFileIsCloseOnExec()
    {
        TempCatalogue dir;
        int seen = 0;
        int closeOnExec = 0;
        IniFile::SetBeforeReplace([&] {
            const QStringList fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
            for (const QString &fd : fds) {
                char target[4096];
                const ssize_t n = ::readlink(QFile::encodeName(QStringLiteral("/proc/self/fd/") + fd).constData(), target, sizeof target);
                if (n <= 0 || !QByteArray(target, n).contains("/.SvrList.ini."))
                    continue;
                ++seen;
                closeOnExec += (::fcntl(fd.toInt(), F_GETFD) & FD_CLOEXEC) != 0;
            }
        });
        IniFile(dir.path()).update([](IniDocument &doc) { doc.writeString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("1")); });
        IniFile::SetBeforeReplace({});
        QCOMPARE(seen, 1);
        QCOMPARE(closeOnExec, 1);
    }

    // Causes that only a small or read-only file system shows, in a mount namespace of the test's own.
    void fileSystemCauses_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("cause");
        QTest::newRow("disk full") << "mount -t tmpfs -o size=64k tmpfs \"$1\" && exec \"$2\" add \"$1/SvrList.ini\" t 5000"
                                   << "磁盘空间已满";
        QTest::newRow("read-only file system")
            << "mount -t tmpfs tmpfs \"$1\" && \"$2\" add \"$1/SvrList.ini\" t 1 && mount -o remount,ro \"$1\" && "
               "exec \"$2\" add \"$1/SvrList.ini\" t 1"
            << "文件所在的文件系统为只读";
    }
    void fileSystemCauses()
    {
        QFETCH(QString, script);
        QFETCH(QString, cause);
        if (::geteuid() != 0)
            QSKIP("mounting a small file system needs root");
        if (QProcess::execute(QStringLiteral("unshare"), {QStringLiteral("--mount"), QStringLiteral("--propagation"), QStringLiteral("private"), QStringLiteral("true")}) != 0)
            QSKIP("no mount namespace can be made here");
        QTemporaryDir mountPoint;
        QProcess writer;
        writer.start(QStringLiteral("unshare"), {
                                                    QStringLiteral("--mount"),
                                                    QStringLiteral("--propagation"),
                                                    QStringLiteral("private"),
                                                    QStringLiteral("sh"),
                                                    QStringLiteral("-c"),
                                                    script,
                                                    QStringLiteral("sh"),
                                                    mountPoint.path(),
                                                    QStringLiteral(BRENNIC_CATALOGUE_WRITER),
                                                });
        QVERIFY(writer.waitForFinished(60000));
        QCOMPARE(writer.exitCode(), 1);
        QCOMPARE(QString::fromUtf8(writer.readAllStandardError()).trimmed(),
                 QStringLiteral("Unable to write to %1/SvrList.ini\n原因：%2。").arg(mountPoint.path(), cause));
    }

    void missingFolderIsAWriteError()
    {
        TempCatalogue dir;
        IniFile file(dir.folder() + QStringLiteral("/nosuch/SvrList.ini"));
        QCOMPARE(file.current().sectionNames(), QStringList());
        QVERIFY_THROWS_EXCEPTION(AppError, file.update([](IniDocument &doc) { doc.writeString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("1")); }));
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
