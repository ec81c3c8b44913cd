// The server list model under Qt's model tester: filling, collapsing and
// expanding, adding, moving and deleting rows, renaming groups, statuses the
// pollers report, the find filter over it, and the changes other
// administrators make to a shared catalogue.
#include "AppError.h"
#include "MgmtForm.h"
#include "MsgBox.h"
#include "Clock.h"
#include "PingThread.h"
#include "ReachabilityHistory.h"
#include "RdpCommon.h"
#include "ServerFilterModel.h"
#include "ServerListModel.h"
#include "ServerListView.h"
#include "catalogue/PgServer.h"

#include <QAbstractItemModelTester>
#include <QBrush>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Rows = QStringList;

// Group rows as their glyph ("-" expanded, "+" collapsed) and caption, server
// rows as "  address|user|description" (the statuses, which the running pollers
// change, are looked at on their own); each row's object must know its own row.
Rows rowsOf(const QAbstractItemModel &model, const ServerListModel *list = nullptr)
{
    Rows out;
    for (int i = 0; i < model.rowCount(); ++i) {
        const auto text = [&](int column) { return model.index(i, column).data().toString(); };
        const int glyph = model.index(i, ColServer).data(ServerListModel::GlyphRole).toInt();
        if (glyph >= 0)
            out << (glyph == 0 ? QStringLiteral("-") : QStringLiteral("+")) + text(ColServer);
        else
            out << QStringLiteral("  %1|%2|%3").arg(text(ColServer), text(ColUser), text(ColDescription));
        if (list && (!list->RowObject(i) || list->RowObject(i)->Row() != i))
            out << QStringLiteral("!row %1 does not know its place").arg(i);
    }
    return out;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// Two groups with servers, an empty group, an ungrouped server, and a server
// whose group id names no group.
const QByteArray kCatalogue("[MISC]\nMaxGroupID=3\nMaxServerId=5\n"
                            "[GroupItem1]\nGroupName=Web\n[GroupItem2]\nGroupName=DB\n[GroupItem3]\nGroupName=Empty\n"
                            "[ServerItem1]\nGroupId=1\nServer=127.0.0.1\nUser=web1\nDescription=first\n"
                            "[ServerItem2]\nGroupId=1\nServer=127.0.0.2\nUser=web2\nDescription=second\n"
                            "[ServerItem3]\nGroupId=2\nServer=127.0.0.3\nUser=db\n"
                            "[ServerItem4]\nGroupId=-1\nServer=127.0.0.4\n"
                            "[ServerItem5]\nGroupId=9\nServer=127.0.0.5\nDescription=lost group\n");

// The small catalogue above, read from a file in dir.
void loadCatalogue(const QTemporaryDir &dir)
{
    const QString file = dir.filePath(QStringLiteral("SvrList.ini"));
    writeFile(file, kCatalogue);
    UseIniFile(file);
    LoadGroups();
    LoadServers();
}

} // namespace

class TestServerListModel : public QObject {
    Q_OBJECT

    std::unique_ptr<PgServer> pg_;
    QTemporaryDir config_;

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
        InstallErrorMessageBoxes();
        pg_ = PgServer::StartIfRunnable();
    }
    void cleanupTestCase() { pg_.reset(); }
    void cleanup() { ReleaseCatalogue(); }

    // Every change of the rows, as the list and the filter over it announce it.
    void rowsChangeAsTheModelTesterExpects()
    {
        QTemporaryDir dir;
        loadCatalogue(dir);

        ServerListModel list;
        QAbstractItemModelTester listTester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
        ServerFilterModel filter(&list);
        QAbstractItemModelTester filterTester(&filter, QAbstractItemModelTester::FailureReportingMode::QtTest);

        FillServerRows(&list, GetSvrList());
        QCOMPARE(rowsOf(list, &list), (Rows{
                                          QStringLiteral("-Web"),
                                          QStringLiteral("  127.0.0.1|web1|first"),
                                          QStringLiteral("  127.0.0.2|web2|second"),
                                          QStringLiteral("-DB"),
                                          QStringLiteral("  127.0.0.3|db|"),
                                          QStringLiteral("-未分组"),
                                          QStringLiteral("  127.0.0.4||"),
                                          QStringLiteral("-未分组"),
                                          QStringLiteral("  127.0.0.5||lost group"),
                                      }));
        // The server whose group is gone has a row of its own, under the id it carries.
        QCOMPARE(FindGroupRow(&list, 9)->Row(), 7);
        QCOMPARE(FindGroupRow(&list, -1)->Row(), 5);
        QVERIFY(!FindGroupRow(&list, 3)); // a group without servers gets no row from the fill

        TGroupItem *web = FindGroupRow(&list, 1);
        web->Collapse();
        web->Collapse();
        QCOMPARE(rowsOf(list, &list).mid(0, 3), (Rows{QStringLiteral("+Web"), QStringLiteral("-DB"), QStringLiteral("  127.0.0.3|db|")}));
        QCOMPARE(web->Items().front()->PingThd()->state(), TPingThread::State::Paused);
        QVERIFY(!list.IndexOf(web->Items().front().get()).isValid());

        // A server added to a collapsed group waits for the group to open.
        TClientSettings settings;
        settings.Server = QStringLiteral("127.0.0.6");
        PSvrItem added = AddSvrItem(settings, 1, QStringLiteral("added"));
        AddServerRow(&list, added);
        QCOMPARE(rowsOf(list, &list).first(), QStringLiteral("+Web"));
        web->Expand();
        QCOMPARE(rowsOf(list, &list).mid(0, 5), (Rows{
                                                    QStringLiteral("-Web"),
                                                    QStringLiteral("  127.0.0.1|web1|first"),
                                                    QStringLiteral("  127.0.0.2|web2|second"),
                                                    QStringLiteral("  127.0.0.6||added"),
                                                    QStringLiteral("-DB"),
                                                }));

        // A new group row goes at the end; renamed, its servers' records carry the name.
        const int opsId = AddGroup(QStringLiteral("Ops"));
        AddGroupRow(&list, std::make_unique<TGroupItem>(GetGroup(opsId)));
        QCOMPARE(rowsOf(list, &list).last(), QStringLiteral("-Ops"));
        QCOMPARE(RenameGroupRow(&list, 2, QStringLiteral("数据库")), FindGroupRow(&list, 2));
        QCOMPARE(GetSvrItem(3)->Group.GroupName, QStringLiteral("数据库"));
        QVERIFY(!RenameGroupRow(&list, 77, QStringLiteral("none")));

        // A move: the server joins the end of its new group's rows and leaves its old group.
        PSvrItem moved = GetSvrItem(1);
        MoveSvrItem(moved, QStringLiteral("Ops"));
        TItem *old = FindServerItem(&list, moved);
        FindGroupRow(&list, opsId)->AddItem(moved);
        old->Grp()->DeleteItem(old);
        QCOMPARE(rowsOf(list, &list).mid(0, 3), (Rows{QStringLiteral("-Web"), QStringLiteral("  127.0.0.2|web2|second"), QStringLiteral("  127.0.0.6||added")}));
        QCOMPARE(rowsOf(list, &list).mid(9), (Rows{QStringLiteral("-Ops"), QStringLiteral("  127.0.0.1|web1|first")}));

        // Statuses: the poller's report shows in its row and repaints the whole of it.
        TItem *db = FindServerItem(&list, GetSvrItem(3));
        db->PingThd()->Suspend(); // only the test's reports reach the row
        QSignalSpy changed(&filter, &QAbstractItemModel::dataChanged);
        emit list.Reports()->statusReported(db, HostStatus::Offline);
        QCOMPARE(list.index(4, ColStatus).data().toString(), QStringLiteral("Offline"));
        QCOMPARE(list.index(4, ColUser).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(160, 160, 164));
        QCOMPARE(list.IndexOf(db).data(ServerListModel::StatusRole).value<HostStatus>(), HostStatus::Offline);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(1).value<QModelIndex>().column(), ColumnCount - 1);
        emit list.Reports()->statusReported(db, HostStatus::Offline);
        QCOMPARE(changed.count(), 1);
        // A row whose poller has been told to stop takes no more reports.
        TItem *lone = FindServerItem(&list, GetSvrItem(4));
        TPingThread *stopped = lone->PingThd();
        lone->setPingThd(nullptr);
        stopped->Terminate();
        emit list.Reports()->statusReported(lone, HostStatus::Online);
        QCOMPARE(lone->Status(), HostStatus::Unknown);

        // The filter: groups without a match go, rows that come while it is on are filtered.
        filter.SetFindText(QStringLiteral("ＷＥＢ"));
        QCOMPARE(rowsOf(filter), (Rows{QStringLiteral("-Web"), QStringLiteral("  127.0.0.2|web2|second"), QStringLiteral("  127.0.0.6||added"), QStringLiteral("-Ops"), QStringLiteral("  127.0.0.1|web1|first")}));
        settings.Server = QStringLiteral("127.0.0.7");
        AddServerRow(&list, AddSvrItem(settings, 2, QStringLiteral("web mirror")));
        QTRY_COMPARE(rowsOf(filter).size(), 7);
        QCOMPARE(rowsOf(filter).mid(3, 2), (Rows{QStringLiteral("-数据库"), QStringLiteral("  127.0.0.7||web mirror")}));
        emit list.Reports()->statusReported(db, HostStatus::Online); // a status changes nothing that is looked for
        QCOMPARE(rowsOf(filter).size(), 7);
        // Pinyin initials of the group's name, which only the renamed rows' records carry:
        // the catalogue itself was not told.
        filter.SetFindText(QStringLiteral("sjk"));
        QCOMPARE(rowsOf(filter), (Rows{QStringLiteral("-数据库"), QStringLiteral("  127.0.0.3|db|")}));
        filter.SetFindText(QString());
        QCOMPARE(rowsOf(filter), rowsOf(list));

        // Deleting: a group row with servers still shown takes their rows along.
        QCOMPARE(DeleteGroupRow(&list, 77), -1);
        const int dbRow = FindGroupRow(&list, 2)->Row();
        QCOMPARE(DeleteGroupRow(&list, 2), dbRow);
        QVERIFY(!rowsOf(list, &list).contains(QStringLiteral("  127.0.0.7||web mirror")));
        QCOMPARE(rowsOf(list, &list).at(dbRow), QStringLiteral("-未分组"));

        ClearServerRows(&list);
        QCOMPARE(list.rowCount(), 0);
        QCOMPARE(filter.rowCount(), 0);
    }

    // Statuses that real pollers report reach their rows.
    void pollersReportIntoTheirRows()
    {
        QTemporaryDir dir;
        loadCatalogue(dir);
        ServerListModel list;
        QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
        FillServerRows(&list, GetSvrList());
        const QModelIndex status = list.IndexOf(FindServerItem(&list, GetSvrItem(1)), ColStatus);
        QTRY_COMPARE_WITH_TIMEOUT(status.data().toString(), QStringLiteral("Online"), 15000);
        // Collapsed and expanded, the row starts again with no status.
        FindGroupRow(&list, 1)->Collapse();
        FindGroupRow(&list, 1)->Expand();
        QCOMPARE(list.IndexOf(FindServerItem(&list, GetSvrItem(1)), ColStatus).data().toString(), QString());
    }

    // Results that real pollers report go into the list's history, which the
    // row's tooltip and the latency column, put in and taken out, then show.
    void pollersFeedTheHistory()
    {
        QTemporaryDir dir;
        loadCatalogue(dir);
        ReachabilityHistory history(Clock::system());
        ServerListModel list;
        QAbstractItemModelTester listTester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
        ServerFilterModel filter(&list);
        QAbstractItemModelTester filterTester(&filter, QAbstractItemModelTester::FailureReportingMode::QtTest);
        list.SetHistory(&history);
        FillServerRows(&list, GetSvrList());
        list.SetLatencyColumn(true);
        QCOMPARE(list.columnCount(), ColumnCount + 1);
        QCOMPARE(filter.columnCount(), ColumnCount + 1);
        TItem *item = FindServerItem(&list, GetSvrItem(1));
        QTRY_VERIFY_WITH_TIMEOUT(history.contains(1), 15000);
        QVERIFY(list.IndexOf(item).data(Qt::ToolTipRole).toString().contains(QStringLiteral("可用率 1 小时：")));
        const QList<double> series = list.IndexOf(item, ColLatency).data(ServerListModel::LatencyRole).value<QList<double>>();
        QCOMPARE(series.size(), ServerListModel::LatencyMinutes);
        list.SetLatencyColumn(false);
        QCOMPARE(list.columnCount(), int(ColumnCount));
        QCOMPARE(filter.columnCount(), int(ColumnCount));
        QVERIFY(!list.index(item->Row(), ColLatency).isValid());
    }

    // What other administrators change in a shared catalogue reaches the model row
    // by row, with a text being looked for meanwhile.
    void liveChangesFromTheSharedCatalogue()
    {
        PG_SERVER_OR_SKIP(pg_);
        QVERIFY(pg_->createDatabase(QStringLiteral("model")));
        UseDatabase(pg_->address(QStringLiteral("model")));
        const auto colleague = [this](const QString &sql) { return pg_->sql(QStringLiteral("model"), sql); };
        TfrmMgmt form;
        form.show();
        auto *view = form.findChild<TServerListView *>(QStringLiteral("lvSvr"));
        QVERIFY(view);
        ServerListModel *list = view->List();
        QAbstractItemModelTester listTester(list, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QAbstractItemModelTester shownTester(view->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        const auto rows = [list] { return rowsOf(*list, list); };

        QVERIFY(colleague(QStringLiteral("INSERT INTO catalogue_group (name) VALUES ('机房')")));
        QTRY_COMPARE_WITH_TIMEOUT(rows(), Rows{QStringLiteral("-机房")}, 2000);
        QVERIFY(colleague(QStringLiteral("INSERT INTO catalogue_server (address, description) VALUES ('127.0.0.5', 'a'), ('127.0.0.8', 'b')")));
        QTRY_COMPARE_WITH_TIMEOUT(rows().size(), 4, 2000);
        auto *filter = qobject_cast<ServerFilterModel *>(view->model());
        QVERIFY(filter);
        filter->SetFindText(QStringLiteral("127.0.0.8"));
        QCOMPARE(rowsOf(*filter), (Rows{QStringLiteral("-未分组"), QStringLiteral("  127.0.0.8||b")}));
        QVERIFY(colleague(QStringLiteral("UPDATE catalogue_server SET group_id = 1 WHERE address = '127.0.0.8'")));
        QTRY_COMPARE_WITH_TIMEOUT(rows(), (Rows{QStringLiteral("-机房"), QStringLiteral("  127.0.0.8||b"), QStringLiteral("-未分组"), QStringLiteral("  127.0.0.5||a")}),
                                  2000);
        QTRY_COMPARE_WITH_TIMEOUT(rowsOf(*filter), (Rows{QStringLiteral("-机房"), QStringLiteral("  127.0.0.8||b")}), 2000);
        QVERIFY(colleague(QStringLiteral("UPDATE catalogue_group SET name = '新机房'")));
        QTRY_COMPARE_WITH_TIMEOUT(rows().first(), QStringLiteral("-新机房"), 2000);
        QVERIFY(colleague(QStringLiteral("UPDATE catalogue_server SET description = 'c' WHERE address = '127.0.0.5'")));
        QTRY_COMPARE_WITH_TIMEOUT(rows().last(), QStringLiteral("  127.0.0.5||c"), 2000);
        // A status changes in the meantime.
        TItem *shown = ItemOf(list->RowObject(1));
        QVERIFY(shown);
        shown->PingThd()->Suspend();
        emit list->Reports()->statusReported(shown, HostStatus::Offline);
        QCOMPARE(shown->Status(), HostStatus::Offline);
        filter->SetFindText(QString());
        QVERIFY(colleague(QStringLiteral("DELETE FROM catalogue_server")));
        QTRY_COMPARE_WITH_TIMEOUT(rows(), (Rows{QStringLiteral("-新机房"), QStringLiteral("-未分组")}), 2000);
        QVERIFY(colleague(QStringLiteral("DELETE FROM catalogue_group")));
        QTRY_COMPARE_WITH_TIMEOUT(rows(), Rows{QStringLiteral("-未分组")}, 2000);
        QCOMPARE(rowsOf(*filter), rows());
    }
};

QTEST_MAIN(TestServerListModel)
#include "tst_serverlistmodel.moc"
