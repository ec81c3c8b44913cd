#pragma once

// A real X display with a window manager, for tests whose faults show only
// where the X server keeps what was painted: an offscreen grab repaints the
// whole window and hides a region left unrepainted. Start it before the
// application object is made; it points the process at the display.

#include "VirtualDisplay.h"

#include <QProcess>
#include <QThread>

class X11Desktop {
public:
    ~X11Desktop() { TestDisplay::StopProcess(fWindowManager); }

    // Starts Xvfb and openbox and sets DISPLAY and the platform for this
    // process. On failure says why in `error`, and changes nothing.
    bool Start(QString *error)
    {
        for (const char *program : {"Xvfb", "openbox"}) {
            if (!TestDisplay::HaveProgram(QLatin1String(program))) {
                *error = QStringLiteral("%1 is not installed").arg(QLatin1String(program));
                return false;
            }
        }
        if (!fDisplay.Start(error))
            return false;
        fWindowManager.setProcessEnvironment(fDisplay.Environment());
        fWindowManager.setProgram(QStringLiteral("openbox"));
        fWindowManager.setArguments({QStringLiteral("--sm-disable")});
        fWindowManager.setStandardOutputFile(QProcess::nullDevice());
        fWindowManager.setStandardErrorFile(QProcess::nullDevice());
        fWindowManager.start();
        if (!fWindowManager.waitForStarted(3000)) {
            *error = QStringLiteral("openbox did not start");
            return false;
        }
        if (!waitForWindowManager()) {
            *error = QStringLiteral("openbox did not take the screen");
            return false;
        }
        qputenv("DISPLAY", fDisplay.Name().toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
        return true;
    }

private:
    // The window manager announces itself on the root window; the first window
    // must map after that, or it goes without a frame.
    bool waitForWindowManager()
    {
        for (int attempt = 0; attempt < 50 && fWindowManager.state() == QProcess::Running; ++attempt) {
            QProcess probe;
            probe.setProcessEnvironment(fDisplay.Environment());
            probe.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
            if (probe.waitForFinished(2000) && probe.readAllStandardOutput().contains("window id"))
                return true;
            QThread::msleep(100);
        }
        return false;
    }

    TestDisplay::Display fDisplay;
    QProcess fWindowManager;
};
