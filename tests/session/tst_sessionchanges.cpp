// Where a server's new picture differs from the one shown, in tiles: what a
// session copies to its picture and puts on the screen.

#include "RdpChangedTiles.h"

#include <QRandomGenerator>
#include <QTest>

#include <cstring>
#include <vector>

namespace {

constexpr int T = ChangedTileSide;

// Two pictures of 32-bit pixels with room after each row, which holds other bytes in each.
struct Pair {
    Pair(int w, int h, int nowPad, int shownPad)
        : width(w), height(h), nowStride(w * 4 + nowPad), shownStride(w * 4 + shownPad),
          now(size_t(nowStride) * h, 0x11), shown(size_t(shownStride) * h, 0x22)
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint32_t pixel = 0xFF000000u | uint32_t(x * 7 + y * 13);
                std::memcpy(&now[size_t(y) * nowStride + size_t(x) * 4], &pixel, 4);
                std::memcpy(&shown[size_t(y) * shownStride + size_t(x) * 4], &pixel, 4);
            }
    }
    // One byte of a pixel in the new picture made different.
    void Change(int x, int y, int byte = 0) { now[size_t(y) * nowStride + size_t(x) * 4 + size_t(byte)] ^= 0x5A; }
    QRegion Changed() const { return ChangedTiles(now.data(), nowStride, shown.data(), shownStride, width, height); }

    // The same answer worked out pixel by pixel.
    QRegion ChangedPixelByPixel() const
    {
        QRegion region;
        for (int ty = 0; ty < height; ty += T)
            for (int tx = 0; tx < width; tx += T) {
                const QRect tile = QRect(tx, ty, T, T).intersected(QRect(0, 0, width, height));
                bool differs = false;
                for (int y = tile.top(); y <= tile.bottom() && !differs; ++y)
                    differs = std::memcmp(&now[size_t(y) * nowStride + size_t(tile.left()) * 4],
                                          &shown[size_t(y) * shownStride + size_t(tile.left()) * 4],
                                          size_t(tile.width()) * 4)
                        != 0;
                if (differs)
                    region += tile;
            }
        return region;
    }

    int width, height, nowStride, shownStride;
    std::vector<uint8_t> now, shown;
};

} // namespace

class TestSessionChanges : public QObject {
    Q_OBJECT

private slots:
    void tiles_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QList<QRect>>("areas"); // every pixel in them changes
        QTest::addColumn<int>("byte");           // the byte of each pixel that changes
        QTest::addColumn<QRegion>("expected");
        const QSize screen(1024, 768);
        const auto pixel = [](int x, int y) { return QRect(x, y, 1, 1); };
        QTest::newRow("nothing changed") << screen << QList<QRect>{} << 0 << QRegion();
        QTest::newRow("first pixel") << screen << QList<QRect>{pixel(0, 0)} << 0 << QRegion(0, 0, T, T);
        QTest::newRow("last pixel") << screen << QList<QRect>{pixel(1023, 767)} << 0
                                    << QRegion(1024 - T, 768 - T, T, T);
        QTest::newRow("last byte of a row's last pixel")
            << screen << QList<QRect>{pixel(1023, 5)} << 3 << QRegion(1024 - T, 0, T, T);
        QTest::newRow("neighbours in a row join")
            << screen << QList<QRect>{pixel(T - 1, 10), pixel(T, 10)} << 0 << QRegion(0, 0, 2 * T, T);
        QTest::newRow("apart in a row stay apart") << screen << QList<QRect>{pixel(0, 10), pixel(2 * T, 10)} << 0
                                                   << (QRegion(0, 0, T, T) + QRegion(2 * T, 0, T, T));
        QTest::newRow("a square on the tiles' lines")
            << screen << QList<QRect>{{384, 256, 256, 256}} << 1 << QRegion(384, 256, 256, 256);
        QTest::newRow("a square across the tiles' lines")
            << screen << QList<QRect>{{300, 300, 256, 256}} << 2 << QRegion(256, 256, 320, 320);
        QTest::newRow("everything") << screen << QList<QRect>{{0, 0, 1024, 768}} << 0 << QRegion(0, 0, 1024, 768);
        QTest::newRow("ragged edges") << QSize(100, 70) << QList<QRect>{pixel(99, 69), pixel(0, 69)} << 0
                                      << QRegion(0, T, 100, 70 - T);
        QTest::newRow("one pixel picture") << QSize(1, 1) << QList<QRect>{pixel(0, 0)} << 2 << QRegion(0, 0, 1, 1);
    }

    void tiles()
    {
        QFETCH(QSize, size);
        QFETCH(QList<QRect>, areas);
        QFETCH(int, byte);
        QFETCH(QRegion, expected);
        Pair pair(size.width(), size.height(), 64, 0);
        for (const QRect &area : areas)
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x)
                    pair.Change(x, y, byte);
        QCOMPARE(pair.Changed(), expected);
    }

    // What lies past the end of the rows is no part of either picture.
    void bytesPastTheRowsAreIgnored()
    {
        Pair pair(200, 100, 32, 16);
        QCOMPARE(pair.Changed(), QRegion());
    }

    // Scattered changes of every size, against the answer worked out pixel by pixel.
    void scatteredChangesMatchPixelByPixel()
    {
        QRandomGenerator random(20261211);
        for (int round = 0; round < 40; ++round) {
            Pair pair(1 + random.bounded(700), 1 + random.bounded(500), 4 * random.bounded(16), 4 * random.bounded(16));
            const int changes = random.bounded(12);
            for (int i = 0; i < changes; ++i)
                pair.Change(random.bounded(pair.width), random.bounded(pair.height), random.bounded(4));
            QCOMPARE(pair.Changed(), pair.ChangedPixelByPixel());
            if (changes > 0)
                QVERIFY(!pair.Changed().isEmpty());
        }
    }

    void nothingToCompare()
    {
        Pair pair(10, 10, 0, 0);
        QCOMPARE(ChangedTiles(nullptr, pair.nowStride, pair.shown.data(), pair.shownStride, 10, 10), QRegion());
        QCOMPARE(ChangedTiles(pair.now.data(), pair.nowStride, pair.shown.data(), pair.shownStride, 0, 10), QRegion());
    }
};

QTEST_APPLESS_MAIN(TestSessionChanges)
#include "tst_sessionchanges.moc"
