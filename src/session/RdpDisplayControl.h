#pragma once

#include <QSize>

#include <algorithm>
#include <functional>
#include <mutex>

typedef struct rdp_settings rdpSettings;
typedef struct _disp_client_context DispClientContext;

// Dynamic resolution: the display control channel, on which the client asks the
// server for a desktop of another size. The server offers the channel or not;
// once it has told its limits the channel is ready and onReady is called. Attach
// and Detach run on the channel's thread, Request on the worker's.
class RdpDisplayControl {
public:
    explicit RdpDisplayControl(std::function<void()> onReady);

    // The library's settings for a session that follows its window's size.
    static bool Apply(rdpSettings *settings, bool enabled);
    // The sides of a monitor the protocol allows, in pixels.
    static constexpr int MinSide = 200;
    static constexpr int MaxSide = 8192;
    // The nearest size a server takes: MinSide to MaxSide pixels each way, an even
    // width. Inline: the session's own side asks it too, without the library.
    static QSize Acceptable(QSize size)
    {
        const int width = std::clamp(size.width(), MinSide, MaxSide);
        const int height = std::clamp(size.height(), MinSide, MaxSide);
        return QSize(width - width % 2, height);
    }

    void Attach(DispClientContext *channel);
    void Detach(DispClientContext *channel);
    // True while the server offers the channel and has told its limits.
    bool Ready() const;
    // Asks for a desktop of one monitor of this size; false when it cannot be asked.
    bool Request(QSize size);

private:
    static unsigned OnCaps(DispClientContext *channel, unsigned maxMonitors, unsigned maxAreaFactorA,
                           unsigned maxAreaFactorB);

    std::function<void()> onReady_;
    mutable std::mutex lock_; // guards the members below
    DispClientContext *channel_ = nullptr;
    bool ready_ = false;
};
