#pragma once

#include <QImage>
#include <QRegion>

#include <memory>

class QWidget;

// Puts a session's picture on the screen by the platform's own means, past the
// toolkit's painting and its copy of the picture: the view hands over the parts
// that changed and paints only what the presenter could not put. One for each
// view, used on the GUI thread. Another platform is another implementation,
// chosen in For().
class RdpPresenter {
public:
    virtual ~RdpPresenter() = default;

    // Puts these parts of the picture straight on the view's window, each at
    // the same place in the view, which shows the picture at its own size. The
    // picture is the start of the given shared memory segment (-1 for none).
    // Called while the frame is read. The display may take the picture a little
    // later, while the library draws again: whatever the library draws is
    // reported and put again, so the screen ends on the picture as drawn. False
    // when this picture cannot go this way; the view then paints it.
    virtual bool Present(const QImage &picture, int segment, const QRegion &parts) = 0;

    // A presenter for this view (shown, so that it has its window), or null:
    // the platform has none, the display cannot take the picture this way
    // (another machine's, or no shared memory), or presenting is off.
    static std::unique_ptr<RdpPresenter> For(QWidget *view);
    // On by default; off leaves every picture of views shown afterwards to the
    // toolkit's painting.
    static void SetEnabled(bool enabled);
};
