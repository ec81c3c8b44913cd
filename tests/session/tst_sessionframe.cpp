// The picture a session shows, read straight from the library's buffer, and
// the commands the GUI thread gives a session's worker.

#include "RdpCommands.h"
#include "RdpFrame.h"
#include "RdpSharedBuffer.h"

#include <QElapsedTimer>
#include <QTest>

#include <winpr/synch.h>

#include <sys/shm.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// A buffer as the library lays it out: BGRX rows with room at their ends.
struct Buffer {
    Buffer(int width, int height) : size(width, height), stride(width * 4 + 64), bytes(size_t(stride) * height, 0xAB) {}
    void Fill(uint32_t value)
    {
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                std::memcpy(&bytes[size_t(y) * stride + size_t(x) * 4], &value, 4);
    }
    uchar *Pixels() { return bytes.data(); }
    QSize size;
    int stride;
    std::vector<uchar> bytes;
};

QImage Picture(const RdpFrame &frame)
{
    QImage copy;
    frame.Read([&](const QImage &image) { copy = image.copy(); });
    return copy;
}

bool IsSet(void *event)
{
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

} // namespace

class TestSessionFrame : public QObject {
    Q_OBJECT
private slots:
    // Nothing shows before the server drew; then the buffer itself shows, black
    // where nothing was drawn, in a format that needs no conversion to paint.
    void showsTheBufferOnceDrawn()
    {
        Buffer buffer(64, 48);
        RdpFrame frame;
        QVERIFY(Picture(frame).isNull());
        frame.SetBuffer(buffer.Pixels(), buffer.size, buffer.stride);
        QVERIFY(Picture(frame).isNull());

        frame.BeginDrawing();
        std::memset(buffer.Pixels(), 0x40, 4); // the pixel at 0,0
        QVERIFY(frame.EndDrawing(QRect(0, 0, 1, 1)));
        const QImage picture = Picture(frame);
        QCOMPARE(picture.size(), buffer.size);
        QCOMPARE(picture.format(), QImage::Format_RGB32);
        QCOMPARE(picture.pixel(0, 0) & 0xFFFFFF, 0x404040u);
        QCOMPARE(picture.pixel(63, 47) & 0xFFFFFF, 0u);

        // What the library draws next is seen without anything copied in between.
        frame.BeginDrawing();
        buffer.Fill(0xFF336699);
        frame.EndDrawing(QRect(0, 0, 64, 48));
        QCOMPARE(Picture(frame).pixel(10, 10), 0xFF336699u);
    }

    // One report waits at a time; what changes meanwhile joins it, clipped to
    // the picture; a drawing that changed nothing reports nothing.
    void reportsChangesOnceEach()
    {
        Buffer buffer(100, 100);
        RdpFrame frame;
        frame.SetBuffer(buffer.Pixels(), buffer.size, buffer.stride);
        frame.BeginDrawing();
        QVERIFY(!frame.EndDrawing({}));
        frame.BeginDrawing();
        QVERIFY(frame.EndDrawing(QRect(0, 0, 10, 10)));
        frame.BeginDrawing();
        QVERIFY(!frame.EndDrawing(QRect(90, 90, 30, 30)));
        auto [changed, size] = frame.TakeChanged();
        QCOMPARE(changed, QRegion(QRect(0, 0, 10, 10)) + QRegion(QRect(90, 90, 10, 10)));
        QCOMPARE(size, QSize(100, 100));
        QVERIFY(frame.TakeChanged().first.isEmpty());
        frame.BeginDrawing();
        QVERIFY(frame.EndDrawing(QRect(5, 5, 1, 1)));
    }

    // A new buffer (another desktop size) shows nothing until drawn; drawing
    // may nest around the resize, as the library does.
    void newBufferShowsNothingUntilDrawn()
    {
        Buffer small(40, 30);
        Buffer large(80, 60);
        RdpFrame frame;
        frame.SetBuffer(small.Pixels(), small.size, small.stride);
        frame.BeginDrawing();
        frame.EndDrawing(QRect(0, 0, 40, 30));
        frame.BeginDrawing();
        frame.BeginDrawing();
        frame.SetBuffer(large.Pixels(), large.size, large.stride);
        frame.EndDrawing({});
        frame.EndDrawing({});
        QVERIFY(Picture(frame).isNull());
        QVERIFY(frame.TakeChanged().first.isEmpty());
        QCOMPARE(large.bytes[0], uchar(0)); // black, not what the memory held
        frame.BeginDrawing();
        frame.EndDrawing(QRect(0, 0, 1, 1));
        QCOMPARE(Picture(frame).size(), large.size);
    }

    // When the library frees its buffer the last picture stays, as a copy.
    void keepsTheLastPicture()
    {
        Buffer buffer(16, 16);
        RdpFrame frame;
        frame.SetBuffer(buffer.Pixels(), buffer.size, buffer.stride);
        frame.KeepLastPicture();
        QVERIFY(Picture(frame).isNull()); // nothing was drawn

        frame.SetBuffer(buffer.Pixels(), buffer.size, buffer.stride);
        frame.BeginDrawing();
        buffer.Fill(0xFFCC6633);
        frame.EndDrawing(QRect(0, 0, 16, 16));
        frame.KeepLastPicture();
        buffer.Fill(0xFF000000); // the memory goes back to the library
        const QImage kept = Picture(frame);
        QCOMPARE(kept.size(), QSize(16, 16));
        QCOMPARE(kept.pixel(8, 8), 0xFFCC6633u);
        QCOMPARE(frame.TakeChanged().second, QSize(16, 16));
    }

    // The shared memory segment goes with the picture it starts: none before
    // the server drew, none for the copy kept once the library freed its buffer.
    void segmentGoesWithThePicture()
    {
        Buffer buffer(16, 16);
        RdpFrame frame;
        const auto segmentRead = [&] {
            int seen = -2;
            frame.ReadWithSegment([&](const QImage &, int segment) { seen = segment; });
            return seen;
        };
        QCOMPARE(segmentRead(), -1);
        frame.SetBuffer(buffer.Pixels(), buffer.size, buffer.stride, 42);
        QCOMPARE(frame.Segment(), 42);
        QCOMPARE(segmentRead(), -1); // nothing drawn yet
        frame.BeginDrawing();
        frame.EndDrawing(QRect(0, 0, 16, 16));
        QCOMPARE(segmentRead(), 42);
        frame.KeepLastPicture();
        QCOMPARE(segmentRead(), -1);
        QCOMPARE(frame.Segment(), -1);
        frame.SetBuffer(buffer.Pixels(), buffer.size, buffer.stride); // the library's own memory
        frame.BeginDrawing();
        frame.EndDrawing(QRect(0, 0, 16, 16));
        QCOMPARE(segmentRead(), -1);
    }

    // The library's buffer in shared memory: zeroed, writable, and marked for
    // removal from the start, so that it goes with its last user whatever
    // happens to the process; freed, it is gone.
    void sharedBufferLeavesNothingBehind()
    {
        const RdpSharedBuffer::Buffer buffer = RdpSharedBuffer::Allocate(640 * 480 * 4);
        if (!buffer.pixels)
            QSKIP("the system gives no System V shared memory");
        QVERIFY(buffer.segment >= 0);
        QCOMPARE(buffer.pixels[0], uchar(0));
        QCOMPARE(buffer.pixels[640 * 480 * 4 - 1], uchar(0));
        buffer.pixels[12345] = 0x7F;
        shmid_ds state{};
        QCOMPARE(shmctl(buffer.segment, IPC_STAT, &state), 0);
        QVERIFY(state.shm_perm.mode & SHM_DEST);
        QCOMPARE(state.shm_perm.mode & 0777, 0600u);
        QCOMPARE(state.shm_nattch, shmatt_t(1));
        RdpSharedBuffer::Free(buffer.pixels);
        QCOMPARE(shmctl(buffer.segment, IPC_STAT, &state), -1);
        QVERIFY(!RdpSharedBuffer::Allocate(0).pixels);
    }

    // A reader never sees half a drawing: the library's thread draws whole
    // pictures of one colour while the reader checks every picture it reads.
    void readerNeverSeesHalfADrawing()
    {
        Buffer buffer(256, 128);
        RdpFrame frame;
        frame.SetBuffer(buffer.Pixels(), buffer.size, buffer.stride);
        std::atomic<bool> done{false};
        std::thread library([&] {
            for (uint32_t i = 1; i <= 300; ++i) {
                frame.BeginDrawing();
                buffer.Fill(0xFF000000 | i);
                frame.EndDrawing(QRect(0, 0, 256, 128));
            }
            done = true;
        });
        int reads = 0;
        int torn = 0;
        QElapsedTimer timer;
        timer.start();
        while (!done && timer.elapsed() < 20000) {
            frame.Read([&](const QImage &image) {
                if (image.isNull())
                    return;
                ++reads;
                const QRgb first = image.pixel(0, 0);
                if (image.pixel(255, 127) != first || image.pixel(128, 64) != first)
                    ++torn;
            });
        }
        library.join();
        QVERIFY(done);
        QVERIFY(reads > 0);
        QCOMPARE(torn, 0);
    }

    // Commands reach the worker in order, wake it wherever it waits, and the
    // ones that end a connection set the library's abort event.
    void commandsWakeTheWorker()
    {
        RdpCommands commands;
        void *abort = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        commands.SetAbortEvent(abort);
        QVERIFY(!IsSet(commands.Event()));

        RdpCommand key{RdpCommand::Input, {RdpInput::Key, 1, 0x1E}};
        commands.Push(key);
        RdpCommand answer{RdpCommand::Certificate};
        answer.answer = RdpCertificateAnswer::TrustOnce;
        commands.Push(answer);
        QVERIFY(IsSet(commands.Event()));
        QVERIFY(!IsSet(abort));
        auto taken = commands.Take();
        QCOMPARE(taken.size(), size_t(2));
        QCOMPARE(taken[0].kind, RdpCommand::Input);
        QCOMPARE(taken[0].input.code, 0x1Eu);
        QCOMPARE(taken[1].answer, RdpCertificateAnswer::TrustOnce);
        QVERIFY(!IsSet(commands.Event()));

        // A worker in a pause of its own is woken by a command from another thread.
        QElapsedTimer timer;
        timer.start();
        std::thread gui([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            commands.Push({RdpCommand::Disconnect});
        });
        commands.Wait(std::chrono::steady_clock::now() + std::chrono::seconds(10));
        gui.join();
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(IsSet(abort));
        QCOMPARE(commands.Take().front().kind, RdpCommand::Disconnect);

        // Giving the session up wakes it without a command.
        ResetEvent(abort);
        commands.Wake();
        timer.restart();
        commands.Wait(std::chrono::steady_clock::now() + std::chrono::seconds(10));
        QVERIFY(timer.elapsed() < 5000);
        QVERIFY(IsSet(abort));
        QVERIFY(commands.Take().empty());

        // Once taken, a wait lasts until its time.
        timer.restart();
        commands.Wait(std::chrono::steady_clock::now() + std::chrono::milliseconds(100));
        QVERIFY(timer.elapsed() >= 90);
        commands.SetAbortEvent(nullptr);
        CloseHandle(abort);
    }
};

QTEST_GUILESS_MAIN(TestSessionFrame)
#include "tst_sessionframe.moc"
