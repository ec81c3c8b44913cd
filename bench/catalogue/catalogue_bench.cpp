// Loads a catalogue of 10,000 servers in 1,000 groups and times the operations
// that change it, next to the time the disk needs to write and flush a file of
// the same size. Usage: catalogue_bench [folder]   (default: a temporary folder)
#include "IniDocument.h"
#include "IniFile.h"
#include "RdpCommon.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kGroups = 1000;
constexpr int kServers = 10000;
constexpr int kRepeats = 21;

// The catalogue in the form of a new file, or (legacy) as UTF-8 without a mark, as
// earlier versions wrote it.
QByteArray makeCatalogue(bool legacy)
{
    IniDocument doc = legacy ? IniDocument::fromBytes("[MISC]\n") : IniDocument();
    doc.writeInteger(QStringLiteral("MISC"), QStringLiteral("MaxGroupID"), kGroups);
    doc.writeInteger(QStringLiteral("MISC"), QStringLiteral("MaxServerId"), kServers);
    for (int g = 1; g <= kGroups; ++g)
        doc.writeString(QStringLiteral("GroupItem%1").arg(g), QStringLiteral("GroupName"), QStringLiteral("服务器组 %1").arg(g));
    for (int s = 1; s <= kServers; ++s) {
        const QString section = QStringLiteral("ServerItem%1").arg(s);
        doc.writeInteger(section, QStringLiteral("GroupId"), (s - 1) % kGroups + 1);
        doc.writeString(section, QStringLiteral("Description"), QStringLiteral("机房 %1 机柜 %2").arg(s % 40).arg(s % 17));
        doc.writeString(section, QStringLiteral("Server"), QStringLiteral("127.%1.%2.%3").arg(s / 65536).arg(s / 256 % 256).arg(s % 256));
        doc.writeInteger(section, QStringLiteral("Port"), 3389);
        doc.writeString(section, QStringLiteral("Domain"), QStringLiteral("CORP"));
        doc.writeString(section, QStringLiteral("User"), QStringLiteral("administrator"));
        doc.writeString(section, QStringLiteral("Password"), QStringLiteral("0E8364DB7CC216BD7F"));
        doc.writeInteger(section, QStringLiteral("Width"), 1920);
        doc.writeInteger(section, QStringLiteral("Height"), 1080);
        doc.writeInteger(section, QStringLiteral("FullScreen"), 0);
        doc.writeInteger(section, QStringLiteral("ColorDeepth"), 32);
    }
    return doc.toBytes();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Milliseconds of each run. Time that `run` spends on what it adds to `excluded`
// during a run is not counted.
std::vector<double> timeRuns(const std::function<void(int)> &run, int repeats = kRepeats,
                             std::vector<double> *excluded = nullptr)
{
    std::vector<double> ms;
    for (int i = 0; i < repeats; ++i) {
        const size_t before = excluded ? excluded->size() : 0;
        QElapsedTimer timer;
        timer.start();
        run(i);
        double elapsed = timer.nsecsElapsed() / 1e6;
        for (size_t k = before; excluded && k < excluded->size(); ++k)
            elapsed -= (*excluded)[k];
        ms.push_back(elapsed);
    }
    return ms;
}

void writeAndFlush(const QString &path, const QByteArray &bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size() || ::fsync(fd) != 0)
        qFatal("cannot write %s", qPrintable(path));
    ::close(fd);
}

void report(const char *what, const std::vector<double> &ms, double floor)
{
    std::printf("%-28s median %8.2f ms  min %8.2f ms", what, median(ms), *std::min_element(ms.begin(), ms.end()));
    if (floor > 0)
        std::printf("  = %.2f x floor", median(ms) / floor);
    std::printf("\n");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp(argc > 1 ? QDir(QString::fromUtf8(argv[1])).filePath(QStringLiteral("catalogue_bench-XXXXXX")) : QString());
    const QString file = QDir(temp.path()).filePath(QStringLiteral("SvrList.ini"));
    const QByteArray bytes = makeCatalogue(false);
    writeAndFlush(file, bytes);
    const QString legacyFile = QDir(temp.path()).filePath(QStringLiteral("legacy.ini"));
    const QByteArray legacyBytes = makeCatalogue(true);
    writeAndFlush(legacyFile, legacyBytes);
    std::printf("catalogue: %d groups, %d servers, %.2f MB (UTF-16; %.2f MB as UTF-8) in %s\n", kGroups, kServers,
                bytes.size() / 1e6, legacyBytes.size() / 1e6, qPrintable(temp.path()));

    const auto loadFrom = [&](const QString &path) {
        return timeRuns([&](int) {
            UseIniFile(path);
            LoadGroups();
            LoadServers();
        });
    };
    const auto legacyLoad = loadFrom(legacyFile);
    if (GetSvrList().Count() != kServers)
        qFatal("loaded %d servers from the UTF-8 file", GetSvrList().Count());
    const auto load = loadFrom(file);
    if (GetSvrList().Count() != kServers || GetSvrGroups().Count() != kGroups)
        qFatal("loaded %d servers and %d groups", GetSvrList().Count(), GetSvrGroups().Count());

    // The floor is measured right before each operation, so that both see the disk alike.
    const QString floorFile = QDir(temp.path()).filePath(QStringLiteral("floor.bin"));
    std::vector<double> floor;
    const auto withFloor = [&](const std::function<void(int)> &operation) {
        return timeRuns([&](int i) {
            floor.push_back(timeRuns([&](int) { writeAndFlush(floorFile, bytes); }, 1).front());
            operation(i);
        },
                        kRepeats, &floor);
    };

    TClientSettings settings;
    settings.Server = QStringLiteral("127.0.0.1");
    settings.Password = QStringLiteral("secret");
    std::vector<int> added;
    const auto add = withFloor([&](int i) { added.push_back(AddSvrItem(settings, i % kGroups + 1, QStringLiteral("new"))->Id); });
    const auto update = withFloor([&](int i) { UpdateSvrItem(i + 1, settings, QStringLiteral("changed")); });
    const auto remove = withFloor([&](int i) { DeleteSvrItem(GetSvrItem(added[size_t(i)])); });
    const double floorMs = median(floor);

    report("load (groups + servers)", load, 0);
    report("load, UTF-8 file", legacyLoad, 0);
    std::printf("%-28s median %8.2f ms\n", "write + fsync, same size", floorMs);
    report("AddSvrItem", add, floorMs);
    report("UpdateSvrItem", update, floorMs);
    report("DeleteSvrItem", remove, floorMs);
    std::printf("%-28s        %8.2f ms  \n", "first change after loading", add.front());
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("%-28s        %8.1f MB\n", "peak resident memory", usage.ru_maxrss / 1024.0);
    std::printf("targets: load under 200 ms; each operation within 2 x floor\n");
    return 0;
}
