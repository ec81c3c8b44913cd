// A program for the display that the test RDP server shows: covers the screen
// with one colour, writes every key typed to it into a file, and with --animate
// alternates two colours a number of times per second.
//
//   x11_target --color RRGGBB [--keys FILE] [--animate FPS --other RRGGBB [--square SIDE]] [--pattern 1]
//
// With --square only a square of that side at the centre changes. With
// --pattern the screen shows a still picture with edges and many colours:
// bands of colour above, a chequerboard below (PatternColor tells which where).
//
// Prints "ready" once its window is on the screen and has the keyboard focus.

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>

#include "TestPattern.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int) { g_stop = 1; }

unsigned long parseColor(const char *hex) { return std::strtoul(hex, nullptr, 16) & 0xFFFFFF; }

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

int main(int argc, char **argv)
{
    unsigned long color = 0x336699;
    unsigned long other = 0x993366;
    const char *keysPath = nullptr;
    double fps = 0;
    int square = 0;
    bool pattern = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--color"))
            color = parseColor(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--other"))
            other = parseColor(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--keys"))
            keysPath = argv[i + 1];
        else if (!std::strcmp(argv[i], "--animate"))
            fps = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--square"))
            square = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--pattern"))
            pattern = std::atoi(argv[i + 1]) != 0;
    }
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);

    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "x11_target: cannot open display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = color;
    attributes.event_mask = KeyPressMask | ButtonPressMask | StructureNotifyMask | ExposureMask;
    const Window window = XCreateWindow(display, RootWindow(display, screen), 0, 0,
                                        unsigned(DisplayWidth(display, screen)),
                                        unsigned(DisplayHeight(display, screen)), 0, CopyFromParent,
                                        InputOutput, CopyFromParent,
                                        CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
    XMapRaised(display, window);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify)
            break;
    }
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XClearWindow(display, window);
    const GC gc = XCreateGC(display, window, 0, nullptr);
    const int width = DisplayWidth(display, screen);
    const int height = DisplayHeight(display, screen);
    if (pattern)
        for (int y = 0; y < height; y += PatternCell)
            for (int x = 0; x < width; x += PatternCell) {
                XSetForeground(display, gc, PatternColor(x, y, height));
                XFillRectangle(display, window, gc, x, y, PatternCell, PatternCell);
            }
    XSync(display, False);
    std::printf("ready\n");
    std::fflush(stdout);

    FILE *keys = keysPath ? std::fopen(keysPath, "a") : nullptr;
    const int fd = ConnectionNumber(display);
    bool alternate = false;
    double next = now();
    while (!g_stop) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == KeyPress && keys) {
                char text[16] = {};
                KeySym sym = 0;
                const int n = XLookupString(&event.xkey, text, sizeof text - 1, &sym, nullptr);
                if (sym == XK_Return)
                    std::fputs("\n", keys);
                else if (n > 0)
                    std::fwrite(text, 1, size_t(n), keys);
                std::fflush(keys);
            } else if (event.type == ButtonPress && keys) {
                std::fprintf(keys, "[b%u %d,%d]", event.xbutton.button, event.xbutton.x, event.xbutton.y);
                std::fflush(keys);
            }
        }
        int timeoutMs = 100;
        if (fps > 0) {
            const double t = now();
            if (t >= next) {
                alternate = !alternate;
                if (square > 0) {
                    XSetForeground(display, gc, alternate ? other : color);
                    XFillRectangle(display, window, gc, (width - square) / 2, (height - square) / 2,
                                   unsigned(square), unsigned(square));
                } else {
                    XSetWindowBackground(display, window, alternate ? other : color);
                    XClearWindow(display, window);
                }
                XFlush(display);
                next += 1.0 / fps;
                if (next < t)
                    next = t + 1.0 / fps;
            }
            timeoutMs = int((next - now()) * 1000);
            if (timeoutMs < 0)
                timeoutMs = 0;
        }
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, timeoutMs);
    }
    if (keys)
        std::fclose(keys);
    XFreeGC(display, gc);
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    return 0;
}
