// The manager's servers' reachability history: what the pollers report goes
// into it, a row's tooltip tells of it, the optional latency column draws it, a
// deleted server leaves it, and it is saved at the end and read back by the
// next window over the same catalogue.
#include "HistoryStore.h"
#include "LatencyColumnOption.h"
#include "ManagerFixture.h"
#include "MessageBoxAnswers.h"
#include "ReachabilityHistory.h"
#include "ServerHistory.h"
#include "Clock.h"

#include <QAction>
#include <QFileInfo>
#include <QHeaderView>
#include <QImage>

#include <cmath>

namespace {

const QByteArray kCatalogue("[MISC]\nMaxGroupID=1\nMaxServerId=2\n[GroupItem1]\nGroupName=Web\n"
                            "[ServerItem1]\nGroupId=1\nServer=127.0.0.1\nUser=admin\n"
                            "[ServerItem2]\nGroupId=1\nServer=127.0.0.2\nUser=ops\n");

// A result of the row's poller, as it reaches the list: through the channel
// all of the list's pollers share.
void ReportResult(ServerListModel *list, TItem *item, HostStatus status, qint64 latencyUs)
{
    emit list->Reports()->resultReported(item, status, latencyUs);
}

QString toolTip(const ListRow &row)
{
    return row.data(ColServer, Qt::ToolTipRole).toString();
}

// How many pixels of the rectangle differ from its top-left one.
int inkIn(const QImage &image, const QRect &rect)
{
    const QRect inside = rect.intersected(image.rect());
    if (inside.isEmpty())
        return -1;
    const QRgb background = image.pixel(inside.topLeft());
    int ink = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            ink += image.pixel(x, y) != background;
    return ink;
}

} // namespace

class TestMgmtHistory : public QObject {
    Q_OBJECT

    QTemporaryDir state_;
    QTemporaryDir config_;

private slots:
    void initTestCase()
    {
        QVERIFY(state_.isValid() && config_.isValid());
        qputenv("XDG_STATE_HOME", QFile::encodeName(state_.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
    }

    void init()
    {
        SetLatencyColumnShown(false);
    }

    void toolTipTellsTheServersPast()
    {
        ManagerFixture f(kCatalogue);
        const ListRow row = f.row(QStringLiteral("127.0.0.1"));
        QVERIFY(row.item());
        QVERIFY(f.list()->History());
        const QString before = toolTip(row);
        QCOMPARE(before, QStringLiteral("127.0.0.1:3389\n用户名: admin"));

        // Only the results of the poller that the row holds count.
        TItem stranger(row.item()->Server());
        ReportResult(f.list(), &stranger, HostStatus::Online, 9000);
        QVERIFY(!f.list()->History()->contains(1));

        ReportResult(f.list(), row.item(), HostStatus::Online, 12300);
        ReportResult(f.list(), row.item(), HostStatus::Online, 12300);
        QVERIFY(f.list()->History()->contains(1));
        QVERIFY(!f.list()->History()->contains(2));
        const QStringList lines = toolTip(row).split(QLatin1Char('\n'));
        QCOMPARE(lines.mid(0, 2), before.split(QLatin1Char('\n')));
        QVERIFY2(lines.size() > 2 && lines.at(2).startsWith(QStringLiteral("上次变化：")), qPrintable(lines.join(QLatin1Char('|'))));
        QVERIFY2(toolTip(row).contains(QStringLiteral("可用率 1 小时：100%")), qPrintable(toolTip(row)));
        // Latencies are kept to a few per cent.
        QVERIFY2(lines.last().startsWith(QStringLiteral("延迟：")) && lines.last().endsWith(QStringLiteral(" 12 ms")),
                 qPrintable(toolTip(row)));
        // The other server, without a result, keeps its tooltip as it was.
        QCOMPARE(toolTip(f.row(QStringLiteral("127.0.0.2"))), QStringLiteral("127.0.0.2:3389\n用户名: ops"));
    }

    void latencyColumnFollowsTheOption()
    {
        ManagerFixture f(kCatalogue);
        auto *action = Child<QAction>(f.form, "actLatencyColumn");
        QVERIFY(action->isCheckable());
        QVERIFY(!action->isChecked());
        QCOMPARE(f.list()->columnCount(), int(ColumnCount));
        QCOMPARE(f.view()->model()->columnCount(), int(ColumnCount));
        QVERIFY(!LatencyColumnShown());

        action->setChecked(true);
        QVERIFY(LatencyColumnShown());
        QCOMPARE(f.list()->columnCount(), ColumnCount + 1);
        QCOMPARE(f.view()->model()->columnCount(), ColumnCount + 1);
        QCOMPARE(f.list()->headerData(ColLatency, Qt::Horizontal).toString(), QStringLiteral("延迟走势"));
        // Narrow, beside the status; the description stays the last column.
        QCOMPARE(f.view()->header()->visualIndex(ColLatency), ColStatus + 1);
        QCOMPARE(f.view()->header()->logicalIndex(ColumnCount), int(ColDescription));

        const ListRow row = f.row(QStringLiteral("127.0.0.1"));
        const QModelIndex cell = f.view()->ShownIndex(row.object, ColLatency);
        QVERIFY(cell.isValid());
        f.view()->resize(600, 200);
        f.view()->clearSelection();
        QVERIFY(row.data(ColLatency, ServerListModel::LatencyRole).isNull());
        const QRect rect = f.view()->visualRect(cell);
        QCOMPARE(inkIn(f.view()->viewport()->grab().toImage(), rect), 0);

        ReportResult(f.list(), row.item(), HostStatus::Online, 5000);
        const QList<double> series = row.data(ColLatency, ServerListModel::LatencyRole).value<QList<double>>();
        QCOMPARE(series.size(), ServerListModel::LatencyMinutes);
        QVERIFY2(qAbs(series.last() - 5.0) < 0.5, qPrintable(QString::number(series.last())));
        QVERIFY(std::isnan(series.first()));
        QVERIFY(inkIn(f.view()->viewport()->grab().toImage(), rect) > 0);

        action->setChecked(false);
        QVERIFY(!LatencyColumnShown());
        QCOMPARE(f.list()->columnCount(), int(ColumnCount));
        QCOMPARE(f.view()->model()->columnCount(), int(ColumnCount));
        QVERIFY(row.data(ColLatency, ServerListModel::LatencyRole).isNull());

        // The next window starts as the user left the option.
        SetLatencyColumnShown(true);
        ManagerFixture next(kCatalogue);
        QCOMPARE(next.list()->columnCount(), ColumnCount + 1);
        QVERIFY(Child<QAction>(next.form, "actLatencyColumn")->isChecked());
    }

    void deletedServerIsForgotten()
    {
        ManagerFixture f(kCatalogue);
        ReportResult(f.list(), f.row(QStringLiteral("127.0.0.1")).item(), HostStatus::Online, 1000);
        ReportResult(f.list(), f.row(QStringLiteral("127.0.0.2")).item(), HostStatus::Offline, -1);
        ReachabilityHistory *history = f.list()->History();
        QCOMPARE(history->size(), 2);

        f.select(QStringLiteral("127.0.0.1"));
        {
            MessageBoxAnswers boxes(QMessageBox::Yes);
            Child<QAction>(f.form, "actDelete")->trigger();
        }
        QVERIFY(!f.row(QStringLiteral("127.0.0.1")));
        QVERIFY(!history->contains(1));
        QVERIFY(history->contains(2));

        // Deleted by another administrator.
        f.form->CatalogueServerDeleting(GetSvrItem(2));
        QVERIFY(!history->contains(2));
        QCOMPARE(history->size(), 0);
    }

    void savedAtTheEndAndReadBack()
    {
        ManagerFixture f(kCatalogue);
        const QString saved = HistoryStore::fileFor(HistoryStore::iniIdentity(f.file));
        QVERIFY(saved.startsWith(state_.path()));
        QFile::remove(saved);
        ReportResult(f.list(), f.row(QStringLiteral("127.0.0.1")).item(), HostStatus::Online, 7000);
        // A server the catalogue no longer has is left out when read back.
        f.list()->History()->record(99, true, 1000);
        f.form.reset();
        QVERIFY(QFileInfo(saved).size() > 0);

        f.form = std::make_unique<TfrmMgmt>();
        f.form->show();
        ReachabilityHistory *history = f.list()->History();
        QVERIFY(history);
        QVERIFY(history->contains(1));
        QVERIFY(!history->contains(2));
        QVERIFY(!history->contains(99));
        QVERIFY2(toolTip(f.row(QStringLiteral("127.0.0.1"))).contains(QStringLiteral("可用率 1 小时：100%")),
                 qPrintable(toolTip(f.row(QStringLiteral("127.0.0.1")))));
    }

    // A catalogue not read yet (a database not reached) leaves no server out of
    // the history read back; once read, those it lacks go.
    void unreadCatalogueLeavesNoServerOut()
    {
        const QString identity = HistoryStore::sharedIdentity(QStringLiteral("postgresql://ops@db.example/catalogue"));
        {
            ServerHistory first(Clock::system());
            first.Use(identity, QSet<int>{});
            first.History()->record(1, true, 1000);
            first.History()->record(2, false);
        }
        QVERIFY(QFileInfo(HistoryStore::fileFor(identity)).size() > 0);
        ServerHistory next(Clock::system());
        next.Use(identity, std::nullopt);
        QCOMPARE(next.History()->size(), 2);
        ReachabilityHistory *history = next.History();
        next.Use(identity, QSet<int>{1});
        QCOMPARE(next.History(), history);
        QVERIFY(history->contains(1));
        QVERIFY(!history->contains(2));
    }

    void anotherCatalogueHasItsOwnHistory()
    {
        ManagerFixture f(kCatalogue);
        ReportResult(f.list(), f.row(QStringLiteral("127.0.0.1")).item(), HostStatus::Online, 7000);
        const QString first = HistoryStore::fileFor(HistoryStore::iniIdentity(f.file));
        QFile::remove(first);

        const QString other = f.dir.filePath(QStringLiteral("Other.ini"));
        QFile out(other);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QVERIFY(out.write(kCatalogue) == kCatalogue.size());
        out.close();
        UseIniFile(other);
        f.form->RefreshSvrList();

        // The first catalogue's history was written as it left.
        QVERIFY(QFileInfo(first).size() > 0);
        ReachabilityHistory *history = f.list()->History();
        QVERIFY(history);
        QVERIFY(!history->contains(1));
        QVERIFY(toolTip(f.row(QStringLiteral("127.0.0.1"))).indexOf(QStringLiteral("可用率")) < 0);
    }
};

QTEST_MAIN(TestMgmtHistory)
#include "tst_mgmthistory.moc"
