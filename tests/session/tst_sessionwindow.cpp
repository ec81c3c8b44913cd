// Session windows on a real X display with a window manager (Xvfb and openbox):
// what only shows where a window manager frames the windows.

#include "MessageBoxAnswers.h"
#include "MsgBox.h"
#include "SessionTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QTemporaryDir>
#include <QWindow>

#include <X11/Xlib.h>

namespace {

QString g_whyNot;
TestDisplay::Display *g_display = nullptr;

// Where the X server has the outermost window around a top-level window (the
// window manager's frame, or the window itself without one), in root coordinates.
QRect FrameOnTheServer(WId window)
{
    ::Display *x = XOpenDisplay(g_display->Name().toLatin1().constData());
    if (!x)
        return {};
    Window outer = Window(window);
    for (int depth = 0; depth < 8; ++depth) {
        Window root = 0;
        Window parent = 0;
        Window *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(x, outer, &root, &parent, &children, &count))
            break;
        if (children)
            XFree(children);
        if (parent == root || parent == 0)
            break;
        outer = parent;
    }
    XWindowAttributes attributes{};
    QRect frame;
    int rootX = 0;
    int rootY = 0;
    Window child = 0;
    if (XGetWindowAttributes(x, outer, &attributes)
        && XTranslateCoordinates(x, outer, DefaultRootWindow(x), 0, 0, &rootX, &rootY, &child))
        frame = QRect(rootX, rootY, attributes.width + 2 * attributes.border_width,
                      attributes.height + 2 * attributes.border_width);
    XCloseDisplay(x);
    return frame;
}

// True once a window manager has taken the display over (it announces itself on
// the root window), within five seconds.
bool WaitForWindowManager(const QString &name)
{
    ::Display *x = XOpenDisplay(name.toLatin1().constData());
    if (!x)
        return false;
    const Atom check = XInternAtom(x, "_NET_SUPPORTING_WM_CHECK", False);
    bool managed = false;
    QElapsedTimer timer;
    timer.start();
    while (!managed && timer.elapsed() < 5000) {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char *data = nullptr;
        if (XGetWindowProperty(x, DefaultRootWindow(x), check, 0, 1, False, AnyPropertyType, &type, &format, &count,
                               &after, &data)
            == Success) {
            managed = count == 1;
            if (data)
                XFree(data);
        }
        if (!managed)
            QThread::msleep(50);
    }
    XCloseDisplay(x);
    return managed;
}

} // namespace

class TestSessionWindow : public QObject {
    Q_OBJECT

private:
    QTemporaryDir store_;
    std::unique_ptr<MessageBoxAnswers> boxes_;
    std::unique_ptr<FakeOwner> owner_;
    std::unique_ptr<SilentServer> silent_;

private slots:
    void initTestCase()
    {
        if (!g_whyNot.isEmpty())
            QSKIP(qPrintable(g_whyNot));
        InstallErrorMessageBoxes();
        TMsRdpClient5::SetCertificateStoreFolder(store_.path());
    }

    void init()
    {
        boxes_ = std::make_unique<MessageBoxAnswers>();
        owner_ = std::make_unique<FakeOwner>();
        silent_ = std::make_unique<SilentServer>();
    }

    void cleanup()
    {
        owner_.reset();
        QVERIFY(WaitForRdpWorkers(CutMs));
        silent_.reset();
        boxes_.reset();
    }

    // Leaving full screen puts the window's frame, title bar included, at
    // (10, 10), with the design's client size: not the client area there and
    // the title bar above the screen.
    void leavingFullScreenPlacesTheFrameAtTheCorner()
    {
        TClientSettings s = Settings(QStringLiteral("127.0.0.1"), silent_->Port(), 1280, 1024);
        s.FullScreen = true;
        QPointer<TfrmClient> form = owner_->Open(s);
        // The control takes the window to full screen once connected; the
        // silent server never connects, so the test does what it would.
        QVERIFY(form->msrdpclnt1->FullScreen());
        // As on connecting: the window manager has taken the window on by then.
        QVERIFY(WaitUntil([&] { return !form->windowHandle()->frameMargins().isNull(); }, 3000));
        QTest::qWait(300);
        form->setWindowState(form->windowState() | Qt::WindowFullScreen);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QVERIFY(WaitUntil([&] { return form->isFullScreen() && form->geometry() == screen
                                    && FrameOnTheServer(form->winId()) == screen; }, 3000));
        QTest::qWait(500); // the window manager is done with it

        QTest::keyClick(form->msrdpclnt1, Qt::Key_Return, Qt::ControlModifier | Qt::AltModifier);
        QVERIFY(!form->msrdpclnt1->FullScreen());
        const auto placed = [&] {
            const QRect frame = FrameOnTheServer(form->winId());
            return form->size() == TfrmClient::DesignClientSize() && frame.topLeft() == QPoint(10, 10)
                && frame.height() > form->height();
        };
        QVERIFY2(WaitUntil(placed, 3000),
                 qPrintable(QStringLiteral("frame %1,%2 %3x%4, client %5x%6")
                                .arg(FrameOnTheServer(form->winId()).x())
                                .arg(FrameOnTheServer(form->winId()).y())
                                .arg(FrameOnTheServer(form->winId()).width())
                                .arg(FrameOnTheServer(form->winId()).height())
                                .arg(form->width())
                                .arg(form->height())
                            + (form->isFullScreen() ? QStringLiteral(", full screen") : QString())));
        QTest::qWait(300); // and the window manager leaves it there
        QVERIFY(placed());
        QCOMPARE(form->frameGeometry().topLeft(), QPoint(10, 10));
        QVERIFY(form->geometry().top() > 10); // the title bar is on the screen
    }
};

int main(int argc, char **argv)
{
    PrivateNetwork::Enter();
    TestDisplay::Display display;
    QProcess windowManager;
    QString error;
    if (!TestDisplay::HaveProgram(QStringLiteral("Xvfb")) || !TestDisplay::HaveProgram(QStringLiteral("openbox"))) {
        g_whyNot = QStringLiteral("needs Xvfb and openbox for a real X display with a window manager");
    } else if (!display.Start(&error)) {
        g_whyNot = error;
    } else {
        g_display = &display;
        qputenv("DISPLAY", display.Name().toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
        windowManager.setProcessEnvironment(display.Environment());
        windowManager.setStandardOutputFile(QProcess::nullDevice());
        windowManager.setStandardErrorFile(QProcess::nullDevice());
        windowManager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        if (!windowManager.waitForStarted(3000) || !WaitForWindowManager(display.Name()))
            g_whyNot = QStringLiteral("openbox did not take the display over");
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        TestSessionWindow test;
        result = QTest::qExec(&test, argc, argv);
    }
    TestDisplay::StopProcess(windowManager);
    return result;
}

#include "tst_sessionwindow.moc"
