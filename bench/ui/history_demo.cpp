// Shows a few server rows with a day of reachability history behind them (fed
// on a hand-set clock in a moment) and a narrow latency sparkline column, then
// hovers one row and saves a picture of the screen around the window with the
// row's tooltip shown.
// Usage: history_demo OUTPUT.png [ROW]
#include "HistoryToolTip.h"
#include "ManualClock.h"
#include "ReachabilityHistory.h"
#include "SparklineDelegate.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QScreen>
#include <QStandardItemModel>
#include <QTimer>
#include <QTreeView>

#include <cmath>
#include <cstdio>

using namespace std::chrono_literals;

namespace {

struct Server {
    int id;
    const char *address;
    const char *description;
};

const Server Servers[] = {
    {1, "192.168.10.21", "主站 Web 服务器"},
    {2, "192.168.10.22", "备用（昨夜停机两小时）"},
    {3, "192.168.10.40", "负载均衡（时断时续）"},
    {4, "10.20.0.7", "数据库（延迟渐增）"},
    {5, "10.251.0.5", "旧文件服务器"},
};

// One result of each server at second s of the day.
void feed(ReachabilityHistory &history, int s)
{
    history.record(1, true, 600 + s % 300);
    if (s < 14 * 3600 || s > 16 * 3600)
        history.record(2, true, 1200 + (s / 60) % 400);
    else if (s % 4 == 3)
        history.record(2, false);
    if (s > 23 * 3600 && (s / 180) % 3 == 0) {
        if (s % 4 == 3)
            history.record(3, false);
    } else {
        history.record(3, true, 3000 + (s * 37) % 2500);
    }
    const double rising = s > 23 * 3600 ? std::exp((s - 23 * 3600) / 1200.0) : 1.0;
    history.record(4, true, qint64(2000 * rising + (s * 13) % 700));
    if (s < 6 * 3600)
        history.record(5, true, 9000);
    else if (s % 4 == 3)
        history.record(5, false);
}

QList<double> toList(const std::vector<double> &series)
{
    return QList<double>(series.cbegin(), series.cend());
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png [ROW]\n", argv[0]);
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    const int hovered = argc > 2 ? std::atoi(argv[2]) : 2;

    ManualClock clock;
    const QDateTime end = QDateTime::currentDateTime();
    ReachabilityHistory history(clock, end.toMSecsSinceEpoch() - qint64(86400) * 1000);
    for (int s = 0; s < 86400; ++s) {
        if (s)
            clock.advance(1s);
        feed(history, s);
    }

    QStandardItemModel model(0, 4);
    model.setHorizontalHeaderLabels({QStringLiteral("服务器"), QStringLiteral("备注"), QStringLiteral("状态"), QStringLiteral("延迟")});
    for (const Server &server : Servers) {
        const ReachabilityHistory::Summary summary = history.summary(server.id, 30);
        const bool online = history.track(server.id)->lastState() == HistoryTrack::Up;
        QList<QStandardItem *> row{new QStandardItem(QString::fromUtf8(server.address)), new QStandardItem(QString::fromUtf8(server.description)),
                                   new QStandardItem(online ? QStringLiteral("Online") : QStringLiteral("Offline")), new QStandardItem()};
        const QString tip = QString::fromUtf8(server.address) + QStringLiteral(":3389\n备注: ") + QString::fromUtf8(server.description) + QLatin1Char('\n') + historyToolTip(summary, QDateTime::currentDateTime());
        for (QStandardItem *item : row)
            item->setToolTip(tip);
        row[2]->setForeground(online ? QColor(0, 128, 0) : QColor(192, 0, 0));
        row[3]->setData(QVariant::fromValue(toList(summary.latencyMs)), SparklineDelegate::DefaultRole);
        model.appendRow(row);
    }

    QTreeView view;
    view.setRootIsDecorated(false);
    view.setModel(&model);
    view.setItemDelegateForColumn(3, new SparklineDelegate(&view));
    view.header()->resizeSection(0, 140);
    view.header()->resizeSection(1, 220);
    view.header()->resizeSection(2, 70);
    view.header()->resizeSection(3, SparklineDelegate::Width);
    view.setWindowTitle(QStringLiteral("服务器可达性历史"));
    view.resize(560, 220);
    view.move(40, 40);
    view.show();

    int status = 0;
    QTimer::singleShot(800, &app, [&] {
        const QPoint at = view.visualRect(model.index(hovered, 1)).center();
        QHelpEvent help(QEvent::ToolTip, at, view.viewport()->mapToGlobal(at));
        QApplication::sendEvent(view.viewport(), &help);
    });
    QTimer::singleShot(2000, &app, [&] {
        QRect area = view.frameGeometry();
        for (QWidget *window : QApplication::topLevelWidgets())
            if (window != &view && window->isVisible())
                area |= window->frameGeometry();
        if (!view.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).save(output)) {
            std::fprintf(stderr, "cannot save %s\n", qPrintable(output));
            status = 1;
        }
        app.quit();
    });
    app.exec();
    return status;
}
