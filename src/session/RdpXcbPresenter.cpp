#include "RdpXcbPresenter.h"

#include <QGuiApplication>

#include <sys/socket.h>
#include <xcb/shm.h>

#include <cstdlib>
#include <limits>

namespace {

// An xcb reply, freed with the library's free.
template <class T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <class T>
Reply<T> Owned(T *reply)
{
    return Reply<T>(reply, &std::free);
}

// Beyond this many rectangles one put of their bounds costs the server less.
constexpr int MaxPuts = 64;

xcb_connection_t *ConnectionOf()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// A segment id names memory on this machine only: the server must be here,
// which a Unix socket shows.
bool OverLocalSocket(xcb_connection_t *connection)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    return getsockname(xcb_get_file_descriptor(connection), reinterpret_cast<sockaddr *>(&address), &length) == 0
        && address.ss_family == AF_UNIX;
}

bool OffersSharedMemory(xcb_connection_t *connection)
{
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(connection, &xcb_shm_id);
    if (!extension || !extension->present)
        return false;
    return Owned(xcb_shm_query_version_reply(connection, xcb_shm_query_version(connection), nullptr)) != nullptr;
}

// Whether pixels of this depth take 32 bits, in the picture's byte order.
bool FourBytesLittleEndian(const xcb_setup_t *setup, uint8_t depth)
{
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == depth)
            return it.data->bits_per_pixel == 32;
    return false;
}

// Whether the visual keeps red, green and blue where BGRX has them.
bool RgbVisual(const xcb_setup_t *setup, xcb_visualid_t visual)
{
    for (auto screen = xcb_setup_roots_iterator(setup); screen.rem; xcb_screen_next(&screen))
        for (auto depth = xcb_screen_allowed_depths_iterator(screen.data); depth.rem; xcb_depth_next(&depth))
            for (auto type = xcb_depth_visuals_iterator(depth.data); type.rem; xcb_visualtype_next(&type))
                if (type.data->visual_id == visual)
                    return type.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && type.data->red_mask == 0xFF0000
                        && type.data->green_mask == 0xFF00 && type.data->blue_mask == 0xFF;
    return false;
}

} // namespace

std::unique_ptr<RdpXcbPresenter> RdpXcbPresenter::Open(QWidget *view)
{
    xcb_connection_t *connection = ConnectionOf();
    if (!view || !connection || !OverLocalSocket(connection) || !OffersSharedMemory(connection))
        return nullptr;
    return std::unique_ptr<RdpXcbPresenter>(new RdpXcbPresenter(view, connection));
}

RdpXcbPresenter::RdpXcbPresenter(QWidget *view, xcb_connection_t *connection)
    : view_(view), connection_(connection)
{
}

RdpXcbPresenter::~RdpXcbPresenter()
{
    // Without the application its connection is gone, and the server with it
    // let go of everything.
    if (ConnectionOf() == connection_)
        Release();
}

void RdpXcbPresenter::Release()
{
    if (attachment_)
        xcb_shm_detach(connection_, attachment_);
    if (gc_)
        xcb_free_gc(connection_, gc_);
    attachment_ = 0;
    segment_ = -1;
    gc_ = 0;
    xcb_flush(connection_);
}

bool RdpXcbPresenter::UseWindow(xcb_window_t window)
{
    if (window == window_)
        return windowSuits_;
    if (gc_)
        xcb_free_gc(connection_, gc_);
    gc_ = 0;
    window_ = window;
    windowSuits_ = false;
    const auto geometry = Owned(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr));
    const auto attributes = Owned(
        xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, window), nullptr));
    if (!geometry || !attributes)
        return false;
    const xcb_setup_t *setup = xcb_get_setup(connection_);
    // Depth 24 only: in a window with alpha the picture's unused byte would be its opacity.
    if (geometry->depth != 24 || !FourBytesLittleEndian(setup, geometry->depth)
        || !RgbVisual(setup, attributes->visual))
        return false;
    depth_ = geometry->depth;
    gc_ = xcb_generate_id(connection_);
    const uint32_t noExposures = 0;
    xcb_create_gc(connection_, gc_, window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    windowSuits_ = true;
    return true;
}

bool RdpXcbPresenter::UseSegment(int segment)
{
    if (segment < 0 || segment == refusedSegment_)
        return false;
    if (segment == segment_)
        return true;
    const uint32_t attachment = xcb_generate_id(connection_);
    const auto error = Owned(xcb_request_check(
        connection_, xcb_shm_attach_checked(connection_, attachment, uint32_t(segment), /*read_only=*/1)));
    if (error) {
        refusedSegment_ = segment;
        return false;
    }
    // The server takes requests in order: the puts from the old segment are
    // done before it lets that go.
    if (attachment_)
        xcb_shm_detach(connection_, attachment_);
    attachment_ = attachment;
    segment_ = segment;
    return true;
}

bool RdpXcbPresenter::Present(const QImage &picture, int segment, const QRegion &parts)
{
    if (!view_ || picture.isNull() || picture.format() != QImage::Format_RGB32
        || picture.bytesPerLine() != picture.width() * 4 || view_->devicePixelRatioF() != 1.0)
        return false;
    QWidget *native = view_->internalWinId() ? view_.data() : view_->nativeParentWidget();
    if (!native)
        return false;
    const QPoint offset = view_->mapTo(native, QPoint(0, 0));
    const QRect placed = picture.rect().translated(offset);
    constexpr int limit = std::numeric_limits<int16_t>::max();
    if (placed.left() < -limit || placed.top() < -limit || placed.right() > limit || placed.bottom() > limit
        || picture.width() > limit || picture.height() > limit)
        return false;
    if (!UseWindow(xcb_window_t(native->winId())) || !UseSegment(segment))
        return false;
    const auto put = [&](QRect r) {
        r &= picture.rect();
        if (r.isEmpty())
            return;
        xcb_shm_put_image(connection_, window_, gc_, uint16_t(picture.width()), uint16_t(picture.height()),
                          uint16_t(r.x()), uint16_t(r.y()), uint16_t(r.width()), uint16_t(r.height()),
                          int16_t(r.x() + offset.x()), int16_t(r.y() + offset.y()), depth_,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, /*send_event=*/0, attachment_, 0);
    };
    if (parts.rectCount() > MaxPuts) {
        put(parts.boundingRect());
    } else {
        for (const QRect &r : parts)
            put(r);
    }
    // No wait for the server: a drawing that overtakes its read is put again.
    xcb_flush(connection_);
    return true;
}
