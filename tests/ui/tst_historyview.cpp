// What a row shows of a server's recent past: the tooltip's lines and the
// latency sparkline, painted by hand and by the delegate of a list.
#include "HistoryToolTip.h"
#include "Sparkline.h"
#include "SparklineDelegate.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>

#include <cmath>

namespace {

const double None = std::nan("");

ReachabilityHistory::Summary summary(std::optional<QDateTime> lastChange, std::optional<double> hour, std::optional<double> day, qint64 changes, std::vector<double> latency)
{
    ReachabilityHistory::Summary s;
    s.lastChange = lastChange;
    s.availabilityHour = hour;
    s.availabilityDay = day;
    s.changesHour = changes;
    s.latencyMs = std::move(latency);
    return s;
}

// The columns and rows of an image that hold a pixel of colour.
struct Ink {
    int left = -1, right = -1, top = -1, bottom = -1;
    std::vector<bool> columns;
};

Ink inkOf(const QImage &image, QColor color)
{
    Ink ink;
    ink.columns.assign(size_t(image.width()), false);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() < 100 || std::abs(c.red() - color.red()) > 60 || std::abs(c.blue() - color.blue()) > 60 || std::abs(c.green() - color.green()) > 60)
                continue;
            ink.columns[size_t(x)] = true;
            ink.left = ink.left < 0 ? x : std::min(ink.left, x);
            ink.right = std::max(ink.right, x);
            ink.top = ink.top < 0 ? y : std::min(ink.top, y);
            ink.bottom = std::max(ink.bottom, y);
        }
    }
    return ink;
}

QImage paint(const std::vector<double> &series, QSize size = QSize(100, 30))
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paintSparkline(painter, QRectF(5, 5, size.width() - 10, size.height() - 10), series, Qt::blue);
    return image;
}

// Where the line is, on average, in a column of the image.
double rowOf(const QImage &image, int x)
{
    double sum = 0;
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        if (image.pixelColor(x, y).alpha() > 100) {
            sum += y;
            ++n;
        }
    }
    return n ? sum / n : -1;
}

} // namespace

class TstHistoryView : public QObject {
    Q_OBJECT

private slots:
    void toolTipText_data()
    {
        const QDateTime now(QDate(2026, 12, 11), QTime(9, 30, 0));
        QTest::addColumn<ReachabilityHistory::Summary>("summary");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing known") << summary({}, {}, {}, 0, {}) << QString();
        QTest::newRow("up all along") << summary({}, 1.0, 1.0, 0, {0.8, 0.8, None, 0.9})
                                      << QStringLiteral("上次变化：无\n可用率 1 小时：100%  24 小时：100%\n延迟：▁▁ █ 0.9 ms");
        QTest::newRow("flapping") << summary(now.addSecs(-125), 0.8333, 0.9721, 6, {12, 15, 40, None})
                                  << QStringLiteral("上次变化：2026-12-11 09:27:55（2 分钟前，1 小时内 6 次）\n"
                                                    "可用率 1 小时：83.3%  24 小时：97.2%\n延迟：▁▂█  40 ms");
        QTest::newRow("down for hours") << summary(now.addSecs(-(3 * 3600 + 12 * 60)), 0.0, 0.8666, 0, {None, None})
                                        << QStringLiteral("上次变化：2026-12-11 06:18:00（3 小时 12 分钟前）\n可用率 1 小时：0.0%  24 小时：86.6%");
        QTest::newRow("just now, no day yet") << summary(now.addSecs(-20), {}, 0.99961, 1, {})
                                              << QStringLiteral("上次变化：2026-12-11 09:29:40（刚才，1 小时内 1 次）\n可用率 1 小时：—  24 小时：99.9%");
        QTest::newRow("days ago") << summary(now.addDays(-3), 1.0, 1.0, 0, {})
                                  << QStringLiteral("上次变化：2026-12-08 09:30:00（3 天前）\n可用率 1 小时：100%  24 小时：100%");
    }
    void toolTipText()
    {
        QFETCH(ReachabilityHistory::Summary, summary);
        QFETCH(QString, text);
        QCOMPARE(historyToolTip(summary, QDateTime(QDate(2026, 12, 11), QTime(9, 30, 0))), text);
    }

    void availabilityNeverRoundsUpToFull_data()
    {
        QTest::addColumn<double>("availability");
        QTest::addColumn<QString>("text");
        QTest::newRow("full") << 1.0 << QStringLiteral("100%");
        QTest::newRow("almost") << 0.99999 << QStringLiteral("99.9%");
        QTest::newRow("half") << 0.5 << QStringLiteral("50.0%");
        QTest::newRow("none") << 0.0 << QStringLiteral("0.0%");
        QTest::newRow("a little") << 0.0004 << QStringLiteral("0.0%");
        QTest::newRow("97.25") << 0.9725 << QStringLiteral("97.2%");
    }
    void availabilityNeverRoundsUpToFull()
    {
        QFETCH(double, availability);
        QFETCH(QString, text);
        QCOMPARE(availabilityText(availability), text);
    }

    void sparklineRisesLeftToRight()
    {
        const QImage image = paint({1, 2, 3, 4, 5, 6, 7, 8});
        const Ink ink = inkOf(image, Qt::blue);
        QVERIFY(ink.left >= 3 && ink.left <= 7);
        QVERIFY(ink.right >= 93 && ink.right <= 97);
        QVERIFY(ink.top <= 7 && ink.bottom >= 23);
        // Low at the left, high at the right.
        QVERIFY(rowOf(image, 10) > 20);
        QVERIFY(rowOf(image, 90) < 10);
    }

    void sparklineGapsAndFlatSeries()
    {
        // A gap in the middle leaves the middle blank.
        const QImage gap = paint({5, 6, 5, None, None, None, 6, 5, 6});
        const Ink g = inkOf(gap, Qt::blue);
        QVERIFY(g.columns[20]);
        QVERIFY(!g.columns[50]);
        QVERIFY(g.columns[80]);
        // A flat series is a line across the middle.
        const QImage flat = paint({3, 3, 3, 3});
        QVERIFY(std::abs(rowOf(flat, 50) - 15) <= 1.5);
        // A lone value is a dot; nothing known, nothing painted.
        const Ink lone = inkOf(paint({None, None, 7, None, None}), Qt::blue);
        QVERIFY(lone.left >= 45 && lone.right <= 55);
        QCOMPARE(inkOf(paint({None, None}), Qt::blue).left, -1);
        QCOMPARE(inkOf(paint({}), Qt::blue).left, -1);
        QCOMPARE(inkOf(paint({1, 2}, QSize(10, 1)), Qt::blue).left, -1);
    }

    void delegatePaintsTheCellsSeries()
    {
        QStandardItemModel model(2, 2);
        model.setData(model.index(0, 0), QStringLiteral("127.0.0.10"));
        model.setData(model.index(0, 1), QVariant::fromValue(QList<double>{1, 2, 4, 8, 16}), SparklineDelegate::DefaultRole);
        model.setData(model.index(1, 0), QStringLiteral("10.251.0.5"));
        QTableView view;
        view.setModel(&model);
        auto *delegate = new SparklineDelegate(&view);
        view.setItemDelegateForColumn(1, delegate);
        view.resize(400, 200);
        view.resizeColumnToContents(1);
        QVERIFY(view.columnWidth(1) >= SparklineDelegate::Width && view.columnWidth(1) <= SparklineDelegate::Width + 2); // and the grid
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        const QColor ink = view.palette().color(QPalette::Text);
        const QImage shot = view.viewport()->grab().toImage();
        const QRect withSeries = view.visualRect(model.index(0, 1));
        const QRect without = view.visualRect(model.index(1, 1));
        const Ink drawn = inkOf(shot.copy(withSeries), ink);
        QVERIFY(drawn.left >= 0 && drawn.right - drawn.left >= withSeries.width() / 2);
        QCOMPARE(inkOf(shot.copy(without), ink).left, -1);

        // Selected, the line takes the selection's text colour.
        view.selectionModel()->select(model.index(0, 1), QItemSelectionModel::Select);
        const QColor selectedInk = view.palette().color(QPalette::HighlightedText);
        const Ink selected = inkOf(view.viewport()->grab().toImage().copy(withSeries), selectedInk);
        QVERIFY(selected.left >= 0);
    }
};

QTEST_MAIN(TstHistoryView)
#include "tst_historyview.moc"
