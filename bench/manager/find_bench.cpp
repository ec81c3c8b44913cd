// Finding among 10,000 servers as the user types: the time from a keystroke to
// the set of matching servers, median and worst over typed sequences; then the
// same in the manager window, with the list's rows hidden and shown and the
// window repainted. Offscreen unless a display is chosen.
#include "BenchFiles.h"
#include "IniDocument.h"
#include "MgmtForm.h"
#include "RdpCommon.h"
#include "ServerFilter.h"
#include "ServerFind.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr int kServers = 10000;

double ms(const QElapsedTimer &t) { return t.nsecsElapsed() / 1e6; }

const char16_t *const kPlaces[] = {u"北京机房", u"上海数据中心", u"广州办公室", u"杭州测试", u"成都备份"};

TSvrItem makeServer(int s)
{
    TSvrItem item;
    item.Id = s;
    item.ClntSett.Server = QStringLiteral("10.%1.%2.%3").arg(s / 65536).arg(s / 256 % 256).arg(s % 256);
    item.ClntSett.User = QStringLiteral("administrator");
    item.Description = QStringLiteral("%1 机柜 %2 web%3").arg(QString::fromUtf16(kPlaces[s % 5])).arg(s % 40).arg(s);
    item.Group = {1 + s % 100, QStringLiteral("组 %1").arg(1 + s % 100)};
    return item;
}

TSvrList makeServers()
{
    TSvrList list;
    for (int s = 1; s <= kServers; ++s)
        list.Add(std::make_unique<TSvrItem>(makeServer(s)));
    return list;
}

QByteArray makeCatalogue()
{
    IniDocument doc;
    doc.writeInteger(QStringLiteral("MISC"), QStringLiteral("MaxGroupID"), 100);
    doc.writeInteger(QStringLiteral("MISC"), QStringLiteral("MaxServerId"), kServers);
    for (int g = 1; g <= 100; ++g)
        doc.writeString(QStringLiteral("GroupItem%1").arg(g), QStringLiteral("GroupName"), QStringLiteral("组 %1").arg(g));
    for (int s = 1; s <= kServers; ++s) {
        const TSvrItem item = makeServer(s);
        const QString section = QStringLiteral("ServerItem%1").arg(s);
        doc.writeInteger(section, QStringLiteral("GroupId"), item.Group.GroupId);
        doc.writeString(section, QStringLiteral("Server"), item.ClntSett.Server);
        doc.writeString(section, QStringLiteral("User"), item.ClntSett.User);
        doc.writeString(section, QStringLiteral("Description"), item.Description);
    }
    return doc.toBytes();
}

const QStringList kWords = {QStringLiteral("10.0.12.7"), QStringLiteral("web9999"), QStringLiteral("ADMINISTRATOR"),
                            QStringLiteral("ｗｅｂ１２"), QStringLiteral("bjjf"), QStringLiteral("上海数据"),
                            QStringLiteral("组 7 web"), QStringLiteral("nothing-like-this")};

// The CPU time of this thread: on a busy machine the wall clock also counts the
// time other processes had the processor.
double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Times {
    std::vector<double> wall, cpu;
};

// Each word typed one character at a time, then erased again; the time of each keystroke.
template <class Keystroke>
Times typeWords(Keystroke keystroke)
{
    Times times;
    QElapsedTimer timer;
    const auto one = [&](const QString &typed) {
        const double cpu = threadCpuMs();
        timer.start();
        keystroke(typed);
        times.wall.push_back(ms(timer));
        times.cpu.push_back(threadCpuMs() - cpu);
    };
    for (const QString &word : kWords) {
        for (int n = 1; n <= word.size(); ++n)
            one(word.left(n));
        for (int n = word.size() - 1; n >= 0; --n)
            one(word.left(n));
    }
    std::sort(times.wall.begin(), times.wall.end());
    std::sort(times.cpu.begin(), times.cpu.end());
    return times;
}

void report(const char *what, const Times &times)
{
    std::printf("%-44s %8.2f ms wall %8.2f ms CPU\n", (std::string(what) + ", median").c_str(),
                times.wall[times.wall.size() / 2], times.cpu[times.cpu.size() / 2]);
    std::printf("%-44s %8.2f ms wall %8.2f ms CPU  (target < 50)\n", (std::string(what) + ", worst").c_str(),
                times.wall.back(), times.cpu.back());
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const TSvrList servers = makeServers();
    TServerFilter filter;
    QElapsedTimer timer;
    timer.start();
    const size_t first = filter.Match(servers, TFindQuery(QStringLiteral("1"))).size();
    std::printf("servers %d\n%-44s %8.2f ms (%zu found)\n", kServers, "first keystroke (folds every server)", ms(timer), first);

    const Times filterOnly = typeWords([&](const QString &typed) { filter.Match(servers, TFindQuery(typed)); });
    report("filter alone, keystroke", filterOnly);
    std::printf("%-44s %8zu\n", "keystrokes measured", filterOnly.wall.size());

    QTemporaryDir dir;
    UseBenchCatalogue(dir.path(), makeCatalogue());
    TfrmMgmt form;
    form.resize(1024, 768);
    form.show();
    QCoreApplication::processEvents();
    auto *find = form.findChild<TServerFind *>();
    QLineEdit *box = find->edtFind;
    form.activateWindow();
    timer.restart();
    find->FocusFind();
    QCoreApplication::processEvents();
    std::printf("%-44s %8.2f ms\n", "window: Ctrl+F (folds every server)", ms(timer));
    timer.restart();
    box->setText(QStringLiteral("1"));
    QCoreApplication::processEvents();
    std::printf("%-44s %8.2f ms\n", "window: first keystroke", ms(timer));
    const Times inWindow = typeWords([&](const QString &typed) {
        box->setText(typed); // filters and hides rows
        form.repaint();      // the list laid out and drawn as it now stands
        QCoreApplication::processEvents();
    });
    report("window: keystroke with list update", inWindow);
    return 0;
}
