#pragma once

#include <QImage>
#include <QRegion>
#include <QSize>

#include <functional>
#include <mutex>
#include <utility>

// The remote desktop's picture: the client library's own drawing buffer, shown
// as it is, without a copy. The library draws into it between BeginDrawing and
// EndDrawing, on the worker's thread or a channel's; the session reads it with
// Read, on the GUI thread. Both hold the frame's lock, which is the frame's alone.
// Until the server has drawn something, and again after a resize until it has
// drawn at the new size, there is no picture.
class RdpFrame {
public:
    // The library draws; drawing may nest (a resize inside a drawing).
    void BeginDrawing();
    // Ends a drawing that changed these rectangles. True when the session is to
    // be told: nothing changed is waiting to be told already.
    bool EndDrawing(const QRegion &changed);

    // The library's buffer, made or made anew at another size (called while
    // drawing, or before the first): black, and no picture until drawn. Its
    // shared memory segment, when it starts one (RdpSharedBuffer), else -1.
    void SetBuffer(uchar *pixels, QSize size, int stride, int segment = -1);
    // The segment given with the buffer now shown, -1 for none.
    int Segment() const;
    // The library frees its buffer: the last picture is kept as a copy.
    void KeepLastPicture();

    // What changed since the last time this was taken, and the picture's size.
    std::pair<QRegion, QSize> TakeChanged();
    // Runs read with the picture (null when there is none), under the lock: the
    // image wraps the library's buffer and is valid only during the call.
    void Read(const std::function<void(const QImage &)> &read) const;
    // The same, with the shared memory segment that the picture starts, or -1
    // (no segment, or the kept copy).
    void ReadWithSegment(const std::function<void(const QImage &, int segment)> &read) const;

private:
    mutable std::recursive_mutex lock_;
    uchar *pixels_ = nullptr;
    QSize size_;
    int stride_ = 0;
    int segment_ = -1;
    bool drawn_ = false;
    QImage kept_; // the last picture once the library's buffer is gone
    QRegion changed_;
    bool reportWaiting_ = false;
};
