#include "RdpDisplayControl.h"

#include <freerdp/channels/disp.h>
#include <freerdp/client/disp.h>
#include <freerdp/settings.h>

#include <algorithm>

static_assert(RdpDisplayControl::MinSide == DISPLAY_CONTROL_MIN_MONITOR_WIDTH
              && RdpDisplayControl::MinSide == DISPLAY_CONTROL_MIN_MONITOR_HEIGHT
              && RdpDisplayControl::MaxSide == DISPLAY_CONTROL_MAX_MONITOR_WIDTH
              && RdpDisplayControl::MaxSide == DISPLAY_CONTROL_MAX_MONITOR_HEIGHT);

namespace {

// Physical size of a monitor in millimetres at 96 pixels per inch.
UINT32 Millimetres(int pixels)
{
    return UINT32(std::clamp(pixels * 254 / 960, DISPLAY_CONTROL_MIN_PHYSICAL_MONITOR_WIDTH,
                             DISPLAY_CONTROL_MAX_PHYSICAL_MONITOR_WIDTH));
}

} // namespace

RdpDisplayControl::RdpDisplayControl(std::function<void()> onReady) : onReady_(std::move(onReady)) {}

bool RdpDisplayControl::Apply(rdpSettings *s, bool enabled)
{
    return freerdp_settings_set_bool(s, FreeRDP_SupportDisplayControl, enabled)
        && freerdp_settings_set_bool(s, FreeRDP_DynamicResolutionUpdate, enabled);
}

void RdpDisplayControl::Attach(DispClientContext *channel)
{
    std::lock_guard guard(lock_);
    channel_ = channel;
    ready_ = false;
    channel->custom = this;
    channel->DisplayControlCaps = OnCaps;
}

void RdpDisplayControl::Detach(DispClientContext *channel)
{
    std::lock_guard guard(lock_);
    if (channel_ != channel)
        return;
    channel->DisplayControlCaps = nullptr;
    channel->custom = nullptr;
    channel_ = nullptr;
    ready_ = false;
}

bool RdpDisplayControl::Ready() const
{
    std::lock_guard guard(lock_);
    return ready_;
}

unsigned RdpDisplayControl::OnCaps(DispClientContext *channel, unsigned, unsigned, unsigned)
{
    auto *self = static_cast<RdpDisplayControl *>(channel->custom);
    if (!self)
        return CHANNEL_RC_OK;
    {
        std::lock_guard guard(self->lock_);
        self->ready_ = true;
    }
    self->onReady_();
    return CHANNEL_RC_OK;
}

bool RdpDisplayControl::Request(QSize size)
{
    const QSize wanted = Acceptable(size);
    DISPLAY_CONTROL_MONITOR_LAYOUT layout{};
    layout.Flags = DISPLAY_CONTROL_MONITOR_PRIMARY;
    layout.Width = UINT32(wanted.width());
    layout.Height = UINT32(wanted.height());
    layout.PhysicalWidth = Millimetres(wanted.width());
    layout.PhysicalHeight = Millimetres(wanted.height());
    layout.Orientation = ORIENTATION_LANDSCAPE;
    layout.DesktopScaleFactor = 100;
    layout.DeviceScaleFactor = 100;
    std::lock_guard guard(lock_);
    if (!ready_ || !channel_ || !channel_->SendMonitorLayout)
        return false;
    return channel_->SendMonitorLayout(channel_, 1, &layout) == CHANNEL_RC_OK;
}
