// Finding among 10,000 servers as the user types: the time from a keystroke to
// the set of matching servers, median and worst over typed sequences.
#include "RdpCommon.h"
#include "ServerFilter.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kServers = 10000;

double ms(const QElapsedTimer &t) { return t.nsecsElapsed() / 1e6; }

const char16_t *const kPlaces[] = {u"北京机房", u"上海数据中心", u"广州办公室", u"杭州测试", u"成都备份"};

TSvrList makeServers()
{
    TSvrList list;
    for (int s = 1; s <= kServers; ++s) {
        auto item = std::make_unique<TSvrItem>();
        item->Id = s;
        item->ClntSett.Server = QStringLiteral("10.%1.%2.%3").arg(s / 65536).arg(s / 256 % 256).arg(s % 256);
        item->ClntSett.User = QStringLiteral("administrator");
        item->Description = QStringLiteral("%1 机柜 %2 web%3").arg(QString::fromUtf16(kPlaces[s % 5])).arg(s % 40).arg(s);
        item->Group = {1 + s % 100, QStringLiteral("组 %1").arg(1 + s % 100)};
        list.Add(std::move(item));
    }
    return list;
}

} // namespace

int main()
{
    const TSvrList servers = makeServers();
    TServerFilter filter;
    QElapsedTimer timer;
    timer.start();
    const size_t first = filter.Match(servers, TFindQuery(QStringLiteral("1"))).size();
    std::printf("servers %d\n%-44s %8.2f ms (%zu found)\n", kServers, "first keystroke (folds every server)", ms(timer), first);

    // Each word typed one character at a time, as keystrokes; then erased again.
    const QStringList words = {QStringLiteral("10.0.12.7"), QStringLiteral("web9999"), QStringLiteral("ADMINISTRATOR"),
                               QStringLiteral("ｗｅｂ１２"), QStringLiteral("bjjf"), QStringLiteral("上海数据"),
                               QStringLiteral("组 7 web"), QStringLiteral("nothing-like-this")};
    std::vector<double> times;
    size_t lastFound = 0;
    for (const QString &word : words) {
        for (int n = 1; n <= word.size(); ++n) {
            timer.restart();
            lastFound = filter.Match(servers, TFindQuery(word.left(n))).size();
            times.push_back(ms(timer));
        }
        for (int n = word.size() - 1; n >= 0; --n) {
            timer.restart();
            filter.Match(servers, TFindQuery(word.left(n)));
            times.push_back(ms(timer));
        }
    }
    std::sort(times.begin(), times.end());
    std::printf("%-44s %8.2f ms\n", "keystroke, median", times[times.size() / 2]);
    std::printf("%-44s %8.2f ms  (target < 50 with the list update)\n", "keystroke, worst", times.back());
    std::printf("%-44s %8zu\n", "keystrokes measured", times.size());
    (void)lastFound;
    return 0;
}
