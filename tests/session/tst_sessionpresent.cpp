// The session's picture on a real X display (Xvfb): what the screen shows
// equals the frame, whether the changes went straight to the window from
// shared memory or were painted, after an exposure and after a new size; and
// which of the two ways each case takes.

#include "RdpFrame.h"
#include "RdpPresenter.h"
#include "RdpSharedBuffer.h"
#include "RdpView.h"
#include "VirtualDisplay.h"

#include <QApplication>
#include <QPainter>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>

#include <memory>
#include <vector>

namespace {

QString g_whyNot; // why the display tests cannot run, empty when they can

// A frame as a session's worker keeps it: the picture in a buffer of the
// library's layout, in shared memory or in plain memory.
class Picture {
public:
    Picture(QSize size, bool shared) { Resize(size, shared); }
    ~Picture() { Let(); }
    Picture(const Picture &) = delete;
    Picture &operator=(const Picture &) = delete;

    // A new buffer of another size, black, made as the library makes it: the
    // old one goes while the frame's lock is held.
    void Resize(QSize size, bool shared)
    {
        frame_.BeginDrawing();
        Let();
        const std::size_t bytes = std::size_t(size.width()) * 4 * std::size_t(size.height());
        if (shared) {
            shared_ = RdpSharedBuffer::Allocate(bytes);
        } else {
            plain_.assign(bytes, 0);
            shared_ = {plain_.data(), -1};
        }
        size_ = size;
        frame_.SetBuffer(shared_.pixels, size, size.width() * 4, shared_.segment);
        frame_.EndDrawing({});
    }

    // Draws a rectangle in one colour, as the server would.
    void Fill(const QRect &area, QColor colour)
    {
        frame_.BeginDrawing();
        QImage image(shared_.pixels, size_.width(), size_.height(), size_.width() * 4, QImage::Format_RGB32);
        QPainter(&image).fillRect(area, colour);
        frame_.EndDrawing(area);
    }

    QImage Copy() const
    {
        QImage copy;
        frame_.Read([&](const QImage &image) { copy = image.copy(); });
        return copy;
    }

    // The picture, with a segment that the X server does not know when asked.
    RdpView::PictureSource Source(bool unknownSegment = false)
    {
        return [this, unknownSegment](const std::function<void(const QImage &, int)> &read) {
            frame_.ReadWithSegment([&](const QImage &image, int segment) {
                read(image, unknownSegment && segment >= 0 ? 0x7FFFFFF0 : segment);
            });
        };
    }

private:
    void Let()
    {
        if (shared_.segment >= 0)
            RdpSharedBuffer::Free(shared_.pixels);
        shared_ = {};
    }

    RdpFrame frame_;
    QSize size_;
    RdpSharedBuffer::Buffer shared_;
    std::vector<uchar> plain_;
};

// What the X server shows of the view, read back from its window.
QImage OnScreen(const QWidget &view)
{
    const QPoint at = view.mapTo(view.window(), QPoint(0, 0));
    return view.screen()
        ->grabWindow(view.window()->winId(), at.x(), at.y(), view.width(), view.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// A widget laid over the picture that lets it show through, dimmed, as the
// reconnect panel does: the toolkit has to paint the picture beneath it.
const QColor Dimming(0, 0, 0, 110);

class Overlay : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), Dimming); }
};

// The picture as it should show, with the overlay on it.
QImage WithOverlay(QImage picture, const QRect &overlay)
{
    if (!overlay.isEmpty())
        QPainter(&picture).fillRect(overlay, Dimming);
    return picture;
}

} // namespace

class TestSessionPresent : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        if (!g_whyNot.isEmpty())
            QSKIP(qPrintable(g_whyNot));
        // A request the X server refused is a fault whichever way the picture went.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("XCB error")));
    }

    void cleanup() { RdpPresenter::SetEnabled(true); }

    void showsTheFrame_data()
    {
        QTest::addColumn<QSize>("view");
        QTest::addColumn<bool>("shared");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("unknownSegment");
        QTest::addColumn<QRect>("overlay");
        QTest::addColumn<bool>("direct");
        const QSize picture(320, 240);
        QTest::newRow("shared memory") << picture << true << true << false << QRect() << true;
        // The widget over the picture stays on top; the rest goes straight.
        QTest::newRow("widget over it") << picture << true << true << false << QRect(40, 30, 120, 90) << true;
        QTest::newRow("scaled") << QSize(160, 120) << true << true << false << QRect() << false;
        QTest::newRow("presenting off") << picture << true << false << false << QRect() << false;
        QTest::newRow("plain memory") << picture << false << true << false << QRect() << false;
        QTest::newRow("segment refused") << picture << true << true << true << QRect() << false;
    }

    void showsTheFrame()
    {
        QFETCH(QSize, view);
        QFETCH(bool, shared);
        QFETCH(bool, enabled);
        QFETCH(bool, unknownSegment);
        QFETCH(QRect, overlay);
        QFETCH(bool, direct);
        RdpPresenter::SetEnabled(enabled);
        const QSize size(320, 240);
        Picture picture(size, shared);
        picture.Fill(QRect(QPoint(0, 0), size), Qt::darkBlue);

        QWidget host;
        host.setGeometry(30, 30, view.width() + 20, view.height() + 20);
        auto *v = new RdpView(&host);
        v->setGeometry(10, 10, view.width(), view.height());
        v->SetPictureSource(picture.Source(unknownSegment));
        auto *cover = new Overlay(&host);
        cover->setGeometry(overlay.translated(10, 10));
        cover->setVisible(!overlay.isEmpty());
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));

        // The first picture is painted: until now the view had nothing.
        v->FrameUpdated(QRect(QPoint(0, 0), size), size);
        QTest::qWait(50);
        // A change: the one that goes straight to the window where it can.
        const QRect changed(20, 20, 200, 100);
        picture.Fill(changed, Qt::yellow);
        v->FrameUpdated(changed, size);
        QCOMPARE(v->PresentedDirectly(), direct);

        if (view != size) {
            // Scaled: the change shows at its place in the smaller picture.
            const QPoint centre(changed.center().x() * view.width() / size.width(),
                                changed.center().y() * view.height() / size.height());
            QTRY_COMPARE(QColor(OnScreen(*v).pixel(centre)), QColor(Qt::yellow));
            return;
        }
        const QImage expected = WithOverlay(picture.Copy(), overlay);
        QTRY_COMPARE(OnScreen(*v), expected);

        // Another window over it and away again: the window shows the latest
        // picture, not what the toolkit painted before.
        QWidget other;
        other.setGeometry(host.geometry());
        other.setAutoFillBackground(true);
        other.setPalette(QPalette(Qt::green));
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other));
        QTRY_COMPARE(QColor(OnScreen(*v).pixel(5, 5)), QColor(Qt::green));
        other.hide();
        QTRY_COMPARE(OnScreen(*v), expected);
    }

    // A new desktop size comes with a new buffer in a new segment; the old one
    // is let go meanwhile. The window shows the new picture, and the changes
    // after it still go straight.
    void showsTheFrameAfterANewSize()
    {
        Picture picture(QSize(320, 240), true);
        picture.Fill(QRect(0, 0, 320, 240), Qt::darkBlue);
        QWidget host;
        host.setGeometry(30, 30, 420, 320);
        auto *v = new RdpView(&host);
        v->setGeometry(10, 10, 320, 240);
        v->SetPictureSource(picture.Source());
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        v->FrameUpdated(QRect(0, 0, 320, 240), QSize(320, 240));
        picture.Fill(QRect(0, 0, 50, 50), Qt::yellow);
        v->FrameUpdated(QRect(0, 0, 50, 50), QSize(320, 240));
        QVERIFY(v->PresentedDirectly());

        const QSize larger(400, 300);
        picture.Resize(larger, true);
        v->DesktopResized(larger.width(), larger.height());
        v->resize(larger);
        picture.Fill(QRect(QPoint(0, 0), larger), Qt::darkCyan);
        v->FrameUpdated(QRect(QPoint(0, 0), larger), larger);
        QVERIFY(v->PresentedDirectly());
        QTRY_COMPARE(OnScreen(*v), picture.Copy());

        picture.Fill(QRect(300, 200, 100, 100), Qt::red);
        v->FrameUpdated(QRect(300, 200, 100, 100), larger);
        QVERIFY(v->PresentedDirectly());
        QTRY_COMPARE(OnScreen(*v), picture.Copy());
    }
};

int main(int argc, char **argv)
{
    TestDisplay::Display display;
    QString error;
    if (!TestDisplay::HaveProgram(QStringLiteral("Xvfb"))) {
        g_whyNot = QStringLiteral("needs Xvfb for a real X display");
    } else if (!display.Start(&error)) {
        g_whyNot = error;
    } else {
        qputenv("DISPLAY", display.Name().toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication app(argc, argv);
    TestSessionPresent test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sessionpresent.moc"
