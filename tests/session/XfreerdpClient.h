#pragma once

// Debian's xfreerdp, the reference client, on an X display of its own, and a
// reader of that display's pixels: what a tolerant client shows of a server.
// Include it after every Qt header: Xlib defines names that Qt uses.

#include "VirtualDisplay.h"

#include <QProcess>
#include <QRgb>
#include <QStringList>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace RdpTest {

class XfreerdpSession {
public:
    // The certificate is ignored; extra holds further options such as /u: and /bpp:.
    XfreerdpSession(const TestDisplay::Display &display, int port, const QStringList &extra = {})
    {
        process_.setProcessEnvironment(display.Environment());
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
        QStringList arguments{QStringLiteral("/v:127.0.0.1:%1").arg(port), QStringLiteral("/cert:ignore"),
                              QStringLiteral("/size:1024x768"), QStringLiteral("-grab-keyboard"),
                              QStringLiteral("/w:1024"), QStringLiteral("/h:768")};
        if (!std::any_of(extra.begin(), extra.end(), [](const QString &a) { return a.startsWith(QStringLiteral("/bpp:")); }))
            arguments << QStringLiteral("/bpp:24");
        process_.start(QStringLiteral("xfreerdp"), arguments + extra);
        process_.waitForStarted(5000);
    }
    ~XfreerdpSession() { TestDisplay::StopProcess(process_); }
    pid_t Pid() const { return pid_t(process_.processId()); }
    bool Running() const { return process_.state() == QProcess::Running; }

private:
    QProcess process_;
};

// Reads pixels of an X display's screen.
class ScreenSampler {
public:
    explicit ScreenSampler(const QString &display) { display_ = XOpenDisplay(display.toLatin1().constData()); }
    ~ScreenSampler()
    {
        if (display_)
            XCloseDisplay(display_);
    }
    ScreenSampler(const ScreenSampler &) = delete;
    ScreenSampler &operator=(const ScreenSampler &) = delete;

    QRgb Pixel(int x, int y)
    {
        if (!display_)
            return 0;
        XImage *image = XGetImage(display_, DefaultRootWindow(display_), x, y, 1, 1, AllPlanes, ZPixmap);
        if (!image)
            return 0;
        const QRgb pixel = QRgb(XGetPixel(image, 0, 0)) & 0xFFFFFF;
        XDestroyImage(image);
        return pixel;
    }
    // xfreerdp's window is placed at the top-left corner: the centre of a remote
    // desktop of 1024 x 768 is at (512, 384) of the screen.
    QRgb Centre() { return Pixel(512, 384); }

private:
    ::Display *display_ = nullptr;
};

} // namespace RdpTest
