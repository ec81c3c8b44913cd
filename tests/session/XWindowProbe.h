#pragma once

// Looks at an X display from outside, as a user or a window manager would: its
// top-level windows by title, and asks one to close the way a window manager's
// close button does. Include it after every Qt header: Xlib defines names that Qt uses.

#include <QByteArray>
#include <QList>
#include <QString>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace RdpTest {

// Windows come and go while the probe looks: one gone between listing and
// looking at it is no fault, where Xlib's own handler would end the process.
inline XErrorHandler &OtherErrorHandler()
{
    static XErrorHandler other = nullptr;
    return other;
}

inline int IgnoreVanishedWindows(::Display *display, XErrorEvent *error)
{
    if (error->error_code == BadWindow || error->error_code == BadDrawable)
        return 0;
    return OtherErrorHandler() ? OtherErrorHandler()(display, error) : 0;
}

class WindowProbe {
public:
    explicit WindowProbe(const QString &display) : display_(XOpenDisplay(display.toLatin1().constData()))
    {
        if (const XErrorHandler before = XSetErrorHandler(IgnoreVanishedWindows); before != IgnoreVanishedWindows)
            OtherErrorHandler() = before;
    }
    ~WindowProbe()
    {
        if (display_)
            XCloseDisplay(display_);
    }
    WindowProbe(const WindowProbe &) = delete;
    WindowProbe &operator=(const WindowProbe &) = delete;

    bool IsOpen() const { return display_ != nullptr; }

    // The titles of the mapped top-level windows (the children of the root
    // window, and their children for a window manager's frames).
    QList<QPair<Window, QString>> MappedTitles()
    {
        QList<QPair<Window, QString>> found;
        if (display_)
            Collect(DefaultRootWindow(display_), 0, found);
        return found;
    }

    // The first mapped window whose title contains the text (in any case); 0 for none.
    Window Find(const QString &text)
    {
        for (const auto &[window, title] : MappedTitles())
            if (title.contains(text, Qt::CaseInsensitive))
                return window;
        return 0;
    }

    // Gives the window the keyboard, as a window manager does for the window
    // clicked, then presses and releases Return in it (a box's default button).
    void PressReturn(Window window)
    {
        XSetInputFocus(display_, window, RevertToParent, CurrentTime);
        XSync(display_, False);
        XEvent event{};
        event.xkey.display = display_;
        event.xkey.window = window;
        event.xkey.root = DefaultRootWindow(display_);
        event.xkey.same_screen = True;
        event.xkey.keycode = XKeysymToKeycode(display_, XK_Return);
        event.xkey.time = CurrentTime;
        event.type = KeyPress;
        XSendEvent(display_, window, True, KeyPressMask, &event);
        event.type = KeyRelease;
        XSendEvent(display_, window, True, KeyReleaseMask, &event);
        XFlush(display_);
    }

    // Asks the window to close, as a window manager's close button does.
    void Close(Window window)
    {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(XInternAtom(display_, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display_, window, False, NoEventMask, &event);
        XFlush(display_);
    }

    // The process that owns the window, as it tells on the window (_NET_WM_PID); 0 when it does not.
    qint64 Pid(Window window)
    {
        const Property pid(display_, window, "_NET_WM_PID", XA_CARDINAL, 1);
        return pid.format == 32 && pid.count == 1 ? qint64(*reinterpret_cast<const unsigned long *>(pid.data)) : 0;
    }

private:
    // One property of a window, as the server gives it; freed with the value.
    struct Property {
        unsigned char *data = nullptr;
        int format = 0;
        unsigned long count = 0;
        Property(::Display *display, Window window, const char *name, Atom type, long length)
        {
            Atom actualType = 0;
            unsigned long after = 0;
            if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, length, False, type,
                                   &actualType, &format, &count, &after, &data)
                != Success)
                data = nullptr;
        }
        Property(const Property &) = delete;
        Property &operator=(const Property &) = delete;
        ~Property()
        {
            if (data)
                XFree(data);
        }
    };

    QString Title(Window window)
    {
        const Property name(display_, window, "_NET_WM_NAME", XInternAtom(display_, "UTF8_STRING", False), 1024);
        return name.data ? QString::fromUtf8(reinterpret_cast<const char *>(name.data), qsizetype(name.count)) : QString();
    }

    void Collect(Window parent, int depth, QList<QPair<Window, QString>> &found)
    {
        Window root = 0;
        Window up = 0;
        Window *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display_, parent, &root, &up, &children, &count))
            return;
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes attributes{};
            if (!XGetWindowAttributes(display_, children[i], &attributes) || attributes.map_state != IsViewable)
                continue;
            if (const QString title = Title(children[i]); !title.isEmpty())
                found.append({children[i], title});
            else if (depth == 0)
                Collect(children[i], 1, found);
        }
        if (children)
            XFree(children);
    }

    ::Display *display_ = nullptr;
};

} // namespace RdpTest
