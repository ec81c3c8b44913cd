// Finding servers by what the user types, and telling an address from a search.
#include "HostPort.h"
#include "Pinyin.h"
#include "ServerFilter.h"

#include <QTest>

namespace {

// A small catalogue of records, owned here; the filter only reads them.
struct Catalogue {
    TSvrList list;

    void add(const QString &server, const QString &user, const QString &description, const QString &group)
    {
        auto item = std::make_unique<TSvrItem>();
        item->Id = list.Count() + 1;
        item->ClntSett.Server = server;
        item->ClntSett.User = user;
        item->ClntSett.Domain = QStringLiteral("CORPDOMAIN");
        item->Description = description;
        item->Group = {list.Count(), group};
        list.Add(std::move(item));
    }
};

Catalogue sample()
{
    Catalogue c;
    c.add(QStringLiteral("127.0.0.1"), QStringLiteral("administrator"), QStringLiteral("北京机房 web"), QStringLiteral("Web"));
    c.add(QStringLiteral("db1.example.test"), QStringLiteral("dba"), QStringLiteral("上海数据库"), QStringLiteral("数据库"));
    c.list.Items(1)->ClntSett.Port = 3390;
    c.add(QStringLiteral("127.0.0.3"), QStringLiteral("ｏｐｓ"), QStringLiteral("Mail relay"), QStringLiteral("未分组"));
    c.add(QStringLiteral("ＦＩＬＥ.example.test"), QStringLiteral("Backup"), QStringLiteral("Москва"), QStringLiteral("Storage"));
    return c;
}

QStringList found(Catalogue &c, TServerFilter &filter, const QString &typed)
{
    QStringList out;
    for (PSvrItem s : filter.Match(c.list, TFindQuery(typed)))
        out << s->ClntSett.Server;
    return out;
}

} // namespace

class TestFind : public QObject {
    Q_OBJECT

private slots:
    void matches_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("servers");
        const QStringList all = {QStringLiteral("127.0.0.1"), QStringLiteral("db1.example.test"), QStringLiteral("127.0.0.3"), QStringLiteral("ＦＩＬＥ.example.test")};
        QTest::newRow("nothing typed") << "" << all;
        QTest::newRow("blanks only") << "   " << all;
        QTest::newRow("address part") << QStringLiteral("127.0.0") << QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.3")};
        QTest::newRow("user, other case") << QStringLiteral("ADMIN") << QStringList{QStringLiteral("127.0.0.1")};
        QTest::newRow("description") << QStringLiteral("relay") << QStringList{QStringLiteral("127.0.0.3")};
        QTest::newRow("group") << "storage" << QStringList{QStringLiteral("ＦＩＬＥ.example.test")};
        QTest::newRow("group in hanzi") << QStringLiteral("数据") << QStringList{QStringLiteral("db1.example.test")};
        QTest::newRow("address with its own port") << QStringLiteral("test:3390") << QStringList{QStringLiteral("db1.example.test")};
        QTest::newRow("the usual port is not written") << ":3389" << QStringList{};
        QTest::newRow("domain is not searched") << "corpdomain" << QStringList{};
        QTest::newRow("full-width typed, half-width stored") << QStringLiteral("ＭＡＩＬ") << QStringList{QStringLiteral("127.0.0.3")};
        QTest::newRow("half-width typed, full-width stored") << "file.example" << QStringList{QStringLiteral("ＦＩＬＥ.example.test")};
        QTest::newRow("full-width digits and dots") << QStringLiteral("１２７．０．０．３") << QStringList{QStringLiteral("127.0.0.3")};
        QTest::newRow("full-width user") << QStringLiteral("OPS") << QStringList{QStringLiteral("127.0.0.3")};
        QTest::newRow("case folding beyond ASCII") << QStringLiteral("МОСКВА") << QStringList{QStringLiteral("ＦＩＬＥ.example.test")};
        QTest::newRow("pinyin initials") << QStringLiteral("bjjf") << QStringList{QStringLiteral("127.0.0.1")};
        QTest::newRow("pinyin initials, upper case") << QStringLiteral("SJK") << QStringList{QStringLiteral("db1.example.test")};
        QTest::newRow("pinyin initials of a group") << QStringLiteral("wfz") << QStringList{QStringLiteral("127.0.0.3")};
        QTest::newRow("every word must match") << QStringLiteral("web 127") << QStringList{QStringLiteral("127.0.0.1")};
        QTest::newRow("words parted by an ideographic space") << QStringLiteral("web　北京") << QStringList{QStringLiteral("127.0.0.1")};
        QTest::newRow("one word missing") << "web nowhere" << QStringList{};
        QTest::newRow("no word across two fields") << "administratorbeijing" << QStringList{};
    }

    void matches()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, servers);
        Catalogue c = sample();
        TServerFilter filter;
        QCOMPARE(found(c, filter, typed), servers);
    }

    // A server that changes is found by its new texts, not its old ones.
    void followsChanges()
    {
        Catalogue c = sample();
        TServerFilter filter;
        QCOMPARE(found(c, filter, QStringLiteral("relay")), QStringList{QStringLiteral("127.0.0.3")});
        c.list.Items(2)->Description = QStringLiteral("广州");
        QCOMPARE(found(c, filter, QStringLiteral("relay")), QStringList{});
        QCOMPARE(found(c, filter, QStringLiteral("gz")), QStringList{QStringLiteral("127.0.0.3")});
        c.list.Items(0)->Group.GroupName = QStringLiteral("Renamed");
        QCOMPARE(found(c, filter, QStringLiteral("renamed")), QStringList{QStringLiteral("127.0.0.1")});
    }

    void pinyinInitials_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("initials");
        QTest::newRow("common hanzi") << QStringLiteral("北京上海广州") << "bjshgz";
        QTest::newRow("mixed with latin") << QStringLiteral("web服务器01") << "webfwq01";
        QTest::newRow("first and last of the table") << QStringLiteral("啊座") << "az";
        QTest::newRow("a rarer hanzi stays") << QStringLiteral("深圳") << QStringLiteral("s圳");
        QTest::newRow("no hanzi") << "plain"
                                  << "plain";
    }

    void pinyinInitials()
    {
        QFETCH(QString, text);
        QFETCH(QString, initials);
        QCOMPARE(PinyinInitials(text), initials);
    }

    void hostPort_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("address") << "127.0.0.1" << true << "127.0.0.1" << 0;
        QTest::newRow("address and port") << " 127.0.0.1:3390 " << true << "127.0.0.1" << 3390;
        QTest::newRow("name") << "web1.example.test" << true << "web1.example.test" << 0;
        QTest::newRow("IPv6 in brackets with port") << "[::1]:3391" << true << "::1" << 3391;
        QTest::newRow("IPv6 in brackets") << "[::1]" << true << "::1" << 0;
        QTest::newRow("bare IPv6") << "fe80::1" << true << "fe80::1" << 0;
        QTest::newRow("port zero") << "127.0.0.1:0" << false << "" << 0;
        QTest::newRow("port too large") << "127.0.0.1:65536" << false << "" << 0;
        QTest::newRow("port not a number") << "127.0.0.1:rdp" << false << "" << 0;
        QTest::newRow("blank inside") << "web server" << false << "" << 0;
        QTest::newRow("blank before the port") << "127.0.0.1: 3390" << false << "" << 0;
        QTest::newRow("tab before the port") << "127.0.0.1:\t3390" << false << "" << 0;
        QTest::newRow("control character") << "web\x01"
                                              "1"
                                           << false << "" << 0;
        QTest::newRow("zero-width joiner") << QStringLiteral("web\u200d1") << false << "" << 0;
        QTest::newRow("empty") << "  " << false << "" << 0;
        QTest::newRow("bad IPv6 in brackets") << "[web]:3389" << false << "" << 0;
        QTest::newRow("stray characters") << "web*1" << false << "" << 0;
        QTest::newRow("leading dot") << ".example.test" << false << "" << 0;
    }

    void hostPort()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QString, host);
        QFETCH(int, port);
        const auto parsed = ParseHostPort(text);
        QCOMPARE(parsed.has_value(), valid);
        if (parsed) {
            QCOMPARE(parsed->Host, host);
            QCOMPARE(parsed->Port, port);
        }
    }

    void formatsHostPort()
    {
        QCOMPARE(FormatHostPort(QStringLiteral("127.0.0.1"), 3389, 3389), QStringLiteral("127.0.0.1"));
        QCOMPARE(FormatHostPort(QStringLiteral("127.0.0.1"), 3390, 3389), QStringLiteral("127.0.0.1:3390"));
        QCOMPARE(FormatHostPort(QStringLiteral("::1"), 3390, 3389), QStringLiteral("[::1]:3390"));
        QCOMPARE(FormatHostPort(QStringLiteral("::1"), 3389, 3389), QStringLiteral("[::1]"));
    }
};

QTEST_GUILESS_MAIN(TestFind)
#include "tst_find.moc"
