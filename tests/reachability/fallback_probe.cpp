// Helper for tst_tcpfallback: runs the engine as it picks its own method, in a
// process that the test has started without CAP_NET_RAW, and prints what it
// found: the probe kind, the statuses, and the blocking probe's own verdict.
//   fallback_probe OPEN_PORT CLOSED_PORT SILENT_HOST
#include "AppError.h"
#include "IcmpPing.h"
#include "PingEngine.h"
#include "PingThread.h"
#include "TestClock.h"
#include "TestRow.h"

#include <QCoreApplication>
#include <QTextStream>

#include <algorithm>
#include <array>
#include <memory>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    // The engine's cycles pass in the time of a clock that the helper moves on.
    TestClock clock;
    PingEngine engine(PingEngine::Method::Auto, clock);
    int notices = 0;
    QObject::connect(&engine, &PingEngine::icmpUnavailable, &engine, [&notices] { ++notices; });

    const auto openPort = static_cast<unsigned short>(args[1].toUInt());
    const auto closedPort = static_cast<unsigned short>(args[2].toUInt());
    std::array<std::unique_ptr<TestRow>, 4> rows{
        std::make_unique<TestRow>(QStringLiteral("127.0.0.1"), openPort),
        std::make_unique<TestRow>(QStringLiteral("127.0.0.1"), closedPort),
        std::make_unique<TestRow>(args[3], openPort),
        std::make_unique<TestRow>(QStringLiteral("::1"), openPort),
    };
    std::array<TPingThread *, 4> pollers{};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        pollers[i] = new TPingThread(true, &engine, &engine);
        rows[i]->bind(pollers[i]);
        pollers[i]->Resume();
    }
    clock.advanceUntil(
        [&pollers] { return std::all_of(pollers.begin(), pollers.end(), [](TPingThread *poller) { return poller->cycles() >= 1; }); },
        std::chrono::seconds(15));

    QString blocking;
    try {
        TPing ping;
        QString rev, ip;
        int retTime = 0;
        blocking = QString::number(ping.PingHost("127.0.0.1", rev, ip, retTime)) + QLatin1Char(' ') + rev;
    } catch (const AppError &error) {
        blocking = QStringLiteral("error ") + error.message();
    }

    QTextStream out(stdout);
    out << "icmp=" << (engine.icmpAvailable() ? 1 : 0) << '\n'
        << "kind=" << engine.probeKind() << '\n'
        << "v6=" << rows[3]->status() << '\n'
        << "tping=" << blocking << '\n'
        << "signals=" << notices << '\n'
        << "open=" << rows[0]->status() << '\n'
        << "closed=" << rows[1]->status() << '\n'
        << "silent=" << rows[2]->status() << '\n'
        << "notice=" << engine.notice() << '\n';
    return 0;
}
