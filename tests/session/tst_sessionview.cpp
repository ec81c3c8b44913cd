// What the session's view repaints when the server draws: only the part that
// changed, at the remote size and scaled.

#include "RdpView.h"

#include <QApplication>
#include <QPaintEvent>
#include <QTest>

namespace {

// The regions the view is asked to paint.
class PaintSpy : public QObject {
public:
    QRegion painted;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent *>(event)->region();
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

class TestSessionView : public QObject {
    Q_OBJECT
private slots:
    void repaintsWhatChanged_data()
    {
        QTest::addColumn<QSize>("view");
        QTest::addColumn<QRect>("changed");
        QTest::addColumn<QRect>("within");
        const QSize remote(1024, 768);
        // At the remote size: exactly the rectangle.
        QTest::newRow("remote size") << remote << QRect(100, 200, 30, 20) << QRect(100, 200, 30, 20);
        // Half the size: the rectangle halved, and a pixel around it.
        QTest::newRow("half") << QSize(512, 384) << QRect(100, 200, 30, 20) << QRect(49, 99, 18, 13);
        // Wider than the picture's proportions: the picture keeps them, at the left.
        QTest::newRow("wide") << QSize(800, 300) << QRect(1000, 700, 24, 68) << QRect(389, 272, 11, 28);
    }

    void repaintsWhatChanged()
    {
        QFETCH(QSize, view);
        QFETCH(QRect, changed);
        QFETCH(QRect, within);
        RdpView v;
        v.resize(view);
        v.show();
        QVERIFY(QTest::qWaitForWindowExposed(&v));
        PaintSpy spy;
        v.installEventFilter(&spy);

        // The first picture of a size is painted whole.
        v.FrameUpdated(QRect(0, 0, 1024, 768), QSize(1024, 768));
        QTRY_VERIFY(!spy.painted.isEmpty());
        QCOMPARE(spy.painted.boundingRect(), QRect(QPoint(0, 0), view));
        QCOMPARE(v.RemoteSize(), QSize(1024, 768));

        spy.painted = QRegion();
        v.FrameUpdated(changed, QSize(1024, 768));
        QTRY_VERIFY(!spy.painted.isEmpty());
        QVERIFY2(within.contains(spy.painted.boundingRect()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4")
                                .arg(spy.painted.boundingRect().x())
                                .arg(spy.painted.boundingRect().y())
                                .arg(spy.painted.boundingRect().width())
                                .arg(spy.painted.boundingRect().height())));
        // Nothing of the change is left out: its centre is painted.
        const QRect area = QRect(QPoint(0, 0), view);
        const double scale = std::min(double(view.width()) / 1024, double(view.height()) / 768);
        const QPoint centre(int(changed.center().x() * scale), int(changed.center().y() * scale));
        QVERIFY(area.contains(centre) && spy.painted.contains(centre));
    }

    // Another desktop size repaints the whole view.
    void newSizeRepaintsAll()
    {
        RdpView v;
        v.resize(640, 480);
        v.show();
        QVERIFY(QTest::qWaitForWindowExposed(&v));
        v.FrameUpdated(QRect(0, 0, 10, 10), QSize(1024, 768));
        PaintSpy spy;
        v.installEventFilter(&spy);
        QTest::qWait(50);
        spy.painted = QRegion();
        v.FrameUpdated(QRect(0, 0, 10, 10), QSize(1280, 800));
        QTRY_VERIFY(!spy.painted.isEmpty());
        QCOMPARE(spy.painted.boundingRect(), QRect(0, 0, 640, 480));
    }
};

QTEST_MAIN(TestSessionView)
#include "tst_sessionview.moc"
