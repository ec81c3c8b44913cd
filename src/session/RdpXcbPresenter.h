#pragma once

#include "RdpPresenter.h"

#include <QPointer>
#include <QWidget>

#include <xcb/xcb.h>

#include <memory>

// The picture put on an X window with MIT-SHM: the X server takes the changed
// rectangles from the library's own buffer, a shared memory segment, so that
// nothing in this process copies them. Only for an X server on this machine
// (a segment id means nothing elsewhere) that offers the extension, and for
// windows whose pixels are laid out as the picture's (depth 24 in 32-bit BGRX).
class RdpXcbPresenter final : public RdpPresenter {
public:
    // Null when the view's display cannot take the picture this way.
    static std::unique_ptr<RdpXcbPresenter> Open(QWidget *view);
    ~RdpXcbPresenter() override;
    RdpXcbPresenter(const RdpXcbPresenter &) = delete;
    RdpXcbPresenter &operator=(const RdpXcbPresenter &) = delete;

    bool Present(const QImage &picture, int segment, const QRegion &parts) override;

private:
    RdpXcbPresenter(QWidget *view, xcb_connection_t *connection);
    // Whether the window's pixels are the picture's; the drawing context for it.
    bool UseWindow(xcb_window_t window);
    // The segment attached by the X server; the one before is let go.
    bool UseSegment(int segment);
    void Release();

    QPointer<QWidget> view_;
    xcb_connection_t *connection_;
    xcb_window_t window_ = 0;
    bool windowSuits_ = false;
    uint8_t depth_ = 0;
    xcb_gcontext_t gc_ = 0;
    int segment_ = -1;        // the segment the X server has attached
    uint32_t attachment_ = 0; // its id on the connection
    int refusedSegment_ = -1; // the last one the X server would not attach
};
