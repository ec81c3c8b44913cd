// Files made to hurt the importer: deep nesting, pipes, devices, files that are
// too large. Each gives a message that names the file, and nothing else.
#include "AppError.h"
#include "BackgroundTask.h"
#include "HostileFiles.h"
#include "ImportFileBytes.h"
#include "ServerImport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QString refusal(const QString &path)
{
    try {
        ReadImportFile(path);
    } catch (const AppError &error) {
        return error.message();
    }
    return QStringLiteral("(read)");
}

} // namespace

class TestHostileImport : public QObject {
    Q_OBJECT

private slots:
    // Groups nested up to the bound are read; one more is refused, as are 40,000.
    void boundsNesting_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected"); // group of the server, or the message's end
        const QString tooDeep = QStringLiteral("分组嵌套超过 100 层，不予导入（文件可能已损坏或是恶意构造的）");
        QTest::newRow("rdg, 100 groups") << "deep.rdg" << HostileFiles::DeepRdg(100) << QStringLiteral("read");
        QTest::newRow("rdg, 101 groups") << "deep.rdg" << HostileFiles::DeepRdg(101) << tooDeep;
        QTest::newRow("rdg, 40,000 groups") << "deep.rdg" << HostileFiles::DeepRdg(40000) << tooDeep;
        QTest::newRow("confCons, 99 folders") << "confCons.xml" << HostileFiles::DeepConfCons(99) << QStringLiteral("read");
        QTest::newRow("confCons, 100 folders") << "confCons.xml" << HostileFiles::DeepConfCons(100) << tooDeep;
        QTest::newRow("confCons, 40,000 folders") << "confCons.xml" << HostileFiles::DeepConfCons(40000) << tooDeep;
        QTest::newRow("rdg, 40,000 elements in a server")
            << "elements.rdg" << HostileFiles::DeepRdgElements(40000)
            << QStringLiteral("XML 元素嵌套超过 200 层，不予导入（文件可能已损坏或是恶意构造的）");
    }

    void boundsNesting()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        writeFile(path, bytes);
        if (expected == QLatin1String("read")) {
            const TImportResult result = ReadImportFile(path);
            QCOMPARE(result.Records.size(), size_t(1));
            QCOMPARE(result.Records[0].Settings.Server, QStringLiteral("127.0.0.1"));
            // The group is named by the path of its levels, cut to the longest group name.
            const QString group = result.Records[0].Group;
            QVERIFY2(group.size() <= 255 && group.count(QStringLiteral(" / ")) >= 60, qPrintable(group));
            return;
        }
        QCOMPARE(refusal(path), QStringLiteral("无法导入“%1”：").arg(name) + expected);
    }

    // Only regular files are read: a named pipe nobody writes to and a link to an
    // endless device are refused at once, without reading from them.
    void refusesWhatIsNoFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("named pipe") << "fifo";
        QTest::newRow("link to /dev/zero") << "zero";
        QTest::newRow("folder") << "folder";
    }

    void refusesWhatIsNoFile()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("servers.rdg"));
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == QLatin1String("zero"))
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        else
            QVERIFY(QDir().mkdir(path));
        const QString message = refusal(path);
        QVERIFY2(message.startsWith(QStringLiteral("无法导入“servers.rdg”：")), qPrintable(message));
        if (kind == QLatin1String("folder"))
            QVERIFY2(message.endsWith(QStringLiteral("这是一个文件夹")), qPrintable(message));
        else
            QVERIFY2(message.contains(QStringLiteral("不是普通文件")), qPrintable(message));
    }

    // The size bound holds to the byte.
    void boundsSize()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("big.rdp"));
        writeFile(path, QByteArray(1024, 'a'));
        QCOMPARE(ReadImportBytes(path, 1024).size(), 1024);
        try {
            ReadImportBytes(path, 1023);
            QFAIL("a file over the bound was read");
        } catch (const AppError &error) {
            QCOMPARE(error.message(), QStringLiteral("无法导入“big.rdp”：文件太大（超过 0 MB）"));
        }
        const QString large = dir.filePath(QStringLiteral("large.rdg"));
        QFile f(large);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(MaxImportFileSize + 1)); // sparse: no disk taken
        f.close();
        QCOMPARE(refusal(large), QStringLiteral("无法导入“large.rdg”：文件太大（超过 64 MB）"));
    }

    // Read on a thread of its own, a batch of hostile files leaves the caller's
    // event loop free; progress comes for each file, and the batch can be cancelled.
    void readsOffTheCallersThread()
    {
        QTemporaryDir dir;
        QStringList paths;
        for (int i = 0; i < 4; ++i) {
            paths << dir.filePath(QStringLiteral("deep%1.rdg").arg(i)) << dir.filePath(QStringLiteral("deep%1.xml").arg(i));
            writeFile(paths[paths.size() - 2], HostileFiles::DeepRdg(40000));
            writeFile(paths.back(), HostileFiles::DeepConfCons(40000));
        }
        TImportBatch batch;
        TBackgroundTask task([&](const TBackgroundTask::Report &report) { batch = ReadImportFiles(paths, report); });
        // Received on this thread (a spy would take the signal on the worker's).
        QList<QPair<int, int>> progress;
        connect(&task, &TBackgroundTask::Progress, this, [&progress](int done, int total) { progress.append({done, total}); });
        QSignalSpy finished(&task, &TBackgroundTask::Finished);
        QElapsedTimer sinceTick;
        qint64 longestGap = 0;
        QTimer tick;
        tick.setInterval(20);
        connect(&tick, &QTimer::timeout, this, [&] {
            longestGap = std::max(longestGap, sinceTick.restart());
        });
        sinceTick.start();
        tick.start();
        task.Start();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
        tick.stop();
        QCOMPARE(progress.size(), paths.size());
        QCOMPARE(progress.back(), qMakePair(int(paths.size()), int(paths.size())));
        QCOMPARE(batch.Unreadable.size(), size_t(paths.size()));
        QCOMPARE(batch.RecordCount(), 0);
        qInfo("longest gap of the 20 ms timer while reading: %lld ms", longestGap);
        QVERIFY2(longestGap < 200, qPrintable(QString::number(longestGap)));

        TImportBatch cut;
        TBackgroundTask cancelled([&](const TBackgroundTask::Report &report) { cut = ReadImportFiles(paths, report); });
        QSignalSpy cancelledDone(&cancelled, &TBackgroundTask::Finished);
        cancelled.Cancel(); // the first report is answered with "stop"
        cancelled.Start();
        QTRY_COMPARE_WITH_TIMEOUT(cancelledDone.size(), 1, 30000);
        QCOMPARE(cut.Unreadable.size(), size_t(1));
    }
};

QTEST_GUILESS_MAIN(TestHostileImport)
#include "tst_hostileimport.moc"
