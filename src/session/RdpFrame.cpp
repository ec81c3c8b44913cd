#include "RdpFrame.h"

#include <cstring>

void RdpFrame::BeginDrawing()
{
    lock_.lock();
}

bool RdpFrame::EndDrawing(const QRegion &changed)
{
    bool report = false;
    if (!changed.isEmpty() && pixels_) {
        drawn_ = true;
        changed_ += changed.intersected(QRect(QPoint(0, 0), size_));
        report = !reportWaiting_ && !changed_.isEmpty();
        reportWaiting_ = reportWaiting_ || report;
    }
    lock_.unlock();
    return report;
}

void RdpFrame::SetBuffer(uchar *pixels, QSize size, int stride, int segment)
{
    std::lock_guard guard(lock_);
    pixels_ = pixels;
    size_ = pixels ? size : QSize();
    stride_ = stride;
    segment_ = pixels ? segment : -1;
    drawn_ = false;
    kept_ = QImage();
    changed_ = QRegion();
    if (pixels)
        for (int y = 0; y < size.height(); ++y)
            std::memset(pixels + size_t(y) * size_t(stride), 0, size_t(size.width()) * 4);
}

int RdpFrame::Segment() const
{
    std::lock_guard guard(lock_);
    return segment_;
}

void RdpFrame::KeepLastPicture()
{
    std::lock_guard guard(lock_);
    if (pixels_ && drawn_)
        kept_ = QImage(pixels_, size_.width(), size_.height(), stride_, QImage::Format_RGB32).copy();
    pixels_ = nullptr;
    segment_ = -1;
    changed_ = QRegion();
}

std::pair<QRegion, QSize> RdpFrame::TakeChanged()
{
    std::lock_guard guard(lock_);
    reportWaiting_ = false;
    QRegion changed;
    changed.swap(changed_);
    return {changed, drawn_ && pixels_ ? size_ : kept_.size()};
}

void RdpFrame::Read(const std::function<void(const QImage &)> &read) const
{
    ReadWithSegment([&](const QImage &image, int) { read(image); });
}

void RdpFrame::ReadWithSegment(const std::function<void(const QImage &, int segment)> &read) const
{
    std::lock_guard guard(lock_);
    if (pixels_ && drawn_) {
        // BGRX in memory is this format's layout: painting it converts nothing.
        const QImage image(static_cast<const uchar *>(pixels_), size_.width(), size_.height(), stride_,
                           QImage::Format_RGB32);
        read(image, segment_);
    } else {
        read(kept_, -1);
    }
}
