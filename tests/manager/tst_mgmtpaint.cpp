// The manager's list as the X server shows it. Run on a real X display with a
// window manager: an offscreen grab repaints every cell and would hide a cell
// left with its old colours.
#include "ManagerFixture.h"
#include "MsgBox.h"
#include "PingThread.h"
#include "X11Desktop.h"

#include <QApplication>
#include <QHeaderView>
#include <QScreen>

namespace {

QString gDesktopProblem;

const QColor kGrey(160, 160, 164);

} // namespace

class TestMgmtPaint : public QObject {
    Q_OBJECT

    // The colour the X server holds at a point of the list's viewport.
    static QColor shownAt(TfrmMgmt *form, const QPoint &inViewport)
    {
        const QPoint at = ListView(form)->viewport()->mapTo(form, inViewport);
        const QImage image = form->screen()->grabWindow(form->winId(), at.x(), at.y(), 1, 1).toImage();
        return image.isNull() ? QColor() : image.pixelColor(0, 0);
    }

private slots:
    void initTestCase()
    {
        if (!gDesktopProblem.isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs an X display with a window manager: ") + gDesktopProblem));
        InstallErrorMessageBoxes();
    }

    // A row back online loses its grey in every cell, not in the status cell alone.
    void wholeRowTakesTheNewColour()
    {
        ManagerFixture f(QByteArray("[MISC]\nMaxGroupID=1\nMaxServerId=1\n[GroupItem1]\nGroupName=Web\n"
                                    "[ServerItem1]\nGroupId=1\nServer=127.0.0.1\nUser=web1\nDescription=d\n"));
        TfrmMgmt *form = f.form.get();
        form->resize(640, 400);
        QVERIFY(QTest::qWaitForWindowExposed(form));
        const ListRow row = f.row(QStringLiteral("127.0.0.1"));
        TPingThread *poller = row.item()->PingThd();
        poller->Suspend();
        Report(f.list(), row.item(), HostStatus::Offline);

        // A point of the user cell, clear of its text, and one of the status cell's.
        QHeaderView *header = f.view()->header();
        const int y = f.view()->RowRect(row.object).center().y();
        const QPoint userCell(header->sectionViewportPosition(ColUser) + header->sectionSize(ColUser) - 4, y);
        const QPoint statusCell(header->sectionViewportPosition(ColStatus) + header->sectionSize(ColStatus) - 4, y);
        QTRY_COMPARE_WITH_TIMEOUT(shownAt(form, userCell), kGrey, 3000);
        QCOMPARE(shownAt(form, statusCell), kGrey);

        // The real poller finds loopback answering.
        poller->Resume();
        QTRY_COMPARE_WITH_TIMEOUT(row.Status(), HostStatus::Online, 10000);
        const QColor base = f.view()->palette().color(QPalette::Base);
        QTRY_COMPARE_WITH_TIMEOUT(shownAt(form, statusCell), base, 3000);
        QTest::qWait(200); // every paint that was coming has come
        QCOMPARE(shownAt(form, userCell), base);
    }
};

int main(int argc, char *argv[])
{
    X11Desktop desktop;
    if (!desktop.Start(&gDesktopProblem) && gDesktopProblem.isEmpty())
        gDesktopProblem = QStringLiteral("unknown");
    QApplication app(argc, argv);
    TestMgmtPaint test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mgmtpaint.moc"
