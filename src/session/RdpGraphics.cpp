#include "RdpGraphics.h"

#include "RdpChangedTiles.h"

#include <freerdp/channels/rdpgfx.h>
#include <freerdp/client/rdpgfx.h>
#include <freerdp/constants.h>
#include <freerdp/freerdp.h>
#include <freerdp/gdi/gdi.h>
#include <freerdp/gdi/gfx.h>
#include <freerdp/settings.h>
#include <freerdp/update.h>

#include <cstdlib>
#include <iterator>
#include <vector>

enum RdpGraphics::Codec : uint32_t {
    Bitmap,
    SurfaceBitsNone,
    SurfaceBitsNSCodec,
    SurfaceBitsRemoteFX,
    SurfaceBitsOther,
    Uncompressed,
    RemoteFX,
    ClearCodec,
    Planar,
    AVC420,
    Alpha,
    AVC444,
    AVC444v2,
    Progressive,
    ProgressiveV2,
    OtherGfx,
    CodecCount
};

namespace {

const char *const CodecNames[] = {
    "bitmap",
    "surface bits/uncompressed",
    "surface bits/NSCodec",
    "surface bits/RemoteFX",
    "surface bits/other",
    "uncompressed",
    "RemoteFX",
    "ClearCodec",
    "planar",
    "AVC420",
    "alpha",
    "AVC444",
    "AVC444v2",
    "progressive",
    "progressive v2",
    "other",
};

// Narrows what a surface marks for the screen to the tiles that differ from
// the picture shown, when the surface goes to the screen pixel for pixel in
// the picture's own format; anything else is left for the GDI as it is.
void KeepChangedParts(const rdpGdi *gdi, gdiGfxSurface *surface)
{
    if (!surface->outputMapped || gdi->suppressOutput || !gdi->primary_buffer || !surface->data
        || surface->format != gdi->dstFormat || GetBytesPerPixel(surface->format) != 4
        || surface->outputTargetWidth != surface->mappedWidth
        || surface->outputTargetHeight != surface->mappedHeight)
        return;
    UINT32 count = 0;
    const RECTANGLE_16 *rects = region16_rects(&surface->invalidRegion, &count);
    if (!rects || count == 0)
        return;
    const QRect mapped = QRect(0, 0, int(surface->mappedWidth), int(surface->mappedHeight))
                             .intersected(QRect(0, 0, int(surface->width), int(surface->height)));
    const QRect screen(0, 0, gdi->width, gdi->height);
    const QPoint origin(int(surface->outputOriginX), int(surface->outputOriginY));
    std::vector<RECTANGLE_16> kept;
    for (UINT32 i = 0; i < count; ++i) {
        const QRect r = QRect(QPoint(rects[i].left, rects[i].top), QPoint(rects[i].right - 1, rects[i].bottom - 1))
                            .intersected(mapped);
        if (r.isEmpty())
            continue;
        if (!screen.contains(r.translated(origin))) {
            kept.push_back(rects[i]);
            continue;
        }
        const QPoint at = r.topLeft() + origin;
        const QRegion changed = ChangedTiles(
            surface->data + size_t(r.top()) * surface->scanline + size_t(r.left()) * 4, int(surface->scanline),
            gdi->primary_buffer + size_t(at.y()) * gdi->stride + size_t(at.x()) * 4, int(gdi->stride), r.width(),
            r.height());
        for (const QRect &c : changed.translated(r.topLeft()))
            kept.push_back({UINT16(c.left()), UINT16(c.top()), UINT16(c.right() + 1), UINT16(c.bottom() + 1)});
    }
    region16_clear(&surface->invalidRegion);
    for (const RECTANGLE_16 &r : kept)
        region16_union_rect(&surface->invalidRegion, &surface->invalidRegion, &r);
}

} // namespace

bool RdpGraphics::Apply(rdpSettings *s, bool pipeline, bool avc444, int colorDepth)
{
    const bool on = pipeline && colorDepth >= 24;
    if (!on)
        return freerdp_settings_set_bool(s, FreeRDP_SupportGraphicsPipeline, FALSE)
            && freerdp_settings_set_uint32(s, FreeRDP_ColorDepth, UINT32(colorDepth));
    // The server picks among the codecs offered; RemoteFX, planar and
    // progressive come with the pipeline, H.264 decodes through libavcodec.
    // AVC444 keeps the full colour resolution for two streams to decode; AVC420
    // alone is offered with an older version of the pipeline. Outside the
    // pipeline the pictures stay bitmap updates.
    return freerdp_settings_set_bool(s, FreeRDP_SupportGraphicsPipeline, TRUE)
        && freerdp_settings_set_uint32(s, FreeRDP_ColorDepth, 32)
        && freerdp_settings_set_bool(s, FreeRDP_GfxH264, TRUE)
        && freerdp_settings_set_bool(s, FreeRDP_GfxAVC444, avc444)
        && freerdp_settings_set_bool(s, FreeRDP_GfxAVC444v2, avc444)
        && freerdp_settings_set_bool(s, FreeRDP_GfxProgressive, TRUE)
        && freerdp_settings_set_bool(s, FreeRDP_FastPathOutput, TRUE)
        && freerdp_settings_set_bool(s, FreeRDP_FrameMarkerCommandEnabled, TRUE);
}

void RdpGraphics::Hook(rdpContext *context)
{
    rdpUpdate *update = context->update;
    gdiSurfaceBits_ = update->SurfaceBits;
    gdiBitmapUpdate_ = update->BitmapUpdate;
    update->SurfaceBits = OnSurfaceBits;
    update->BitmapUpdate = OnBitmapUpdate;
}

void RdpGraphics::Attach(rdpContext *context, RdpgfxClientContext *channel)
{
    if (!gdi_graphics_pipeline_init(context->gdi, channel))
        return;
    gdiSurfaceCommand_ = channel->SurfaceCommand;
    channel->SurfaceCommand = OnSurfaceCommand;
    gdiUpdateSurfaces_ = channel->UpdateSurfaces;
    channel->UpdateSurfaces = OnUpdateSurfaces;
    open_ = true;
}

void RdpGraphics::Detach(rdpContext *context, RdpgfxClientContext *channel)
{
    gdi_graphics_pipeline_uninit(context->gdi, channel);
}

QStringList RdpGraphics::Codecs() const
{
    static_assert(std::size(CodecNames) == CodecCount);
    const uint32_t seen = seen_.load(std::memory_order_relaxed);
    QStringList names;
    for (uint32_t i = 0; i < CodecCount; ++i)
        if (seen & (uint32_t(1) << i))
            names << QString::fromLatin1(CodecNames[i]);
    return names;
}

// ---- the library's drawing callbacks ------------------------------------------------------

unsigned RdpGraphics::OnSurfaceCommand(RdpgfxClientContext *channel, const RDPGFX_SURFACE_COMMAND *command)
{
    auto *gdi = static_cast<rdpGdi *>(channel->custom);
    RdpGraphics &self = GraphicsOf(gdi->context);
    switch (command->codecId) {
    case RDPGFX_CODECID_UNCOMPRESSED: self.Seen(Uncompressed); break;
    case RDPGFX_CODECID_CAVIDEO: self.Seen(RemoteFX); break;
    case RDPGFX_CODECID_CLEARCODEC: self.Seen(ClearCodec); break;
    case RDPGFX_CODECID_PLANAR: self.Seen(Planar); break;
    case RDPGFX_CODECID_AVC420: self.Seen(AVC420); break;
    case RDPGFX_CODECID_ALPHA: self.Seen(Alpha); break;
    case RDPGFX_CODECID_AVC444: self.Seen(AVC444); break;
    case RDPGFX_CODECID_AVC444v2: self.Seen(AVC444v2); break;
    case RDPGFX_CODECID_CAPROGRESSIVE: self.Seen(Progressive); break;
    case RDPGFX_CODECID_CAPROGRESSIVE_V2: self.Seen(ProgressiveV2); break;
    default: self.Seen(OtherGfx); break;
    }
    return self.gdiSurfaceCommand_(channel, command);
}

int RdpGraphics::OnSurfaceBits(rdpContext *context, const SURFACE_BITS_COMMAND *command)
{
    RdpGraphics &self = GraphicsOf(context);
    switch (command->bmp.codecID) {
    case RDP_CODEC_ID_NONE: self.Seen(SurfaceBitsNone); break;
    case RDP_CODEC_ID_NSCODEC: self.Seen(SurfaceBitsNSCodec); break;
    case RDP_CODEC_ID_REMOTEFX: self.Seen(SurfaceBitsRemoteFX); break;
    default: self.Seen(SurfaceBitsOther); break;
    }
    return self.gdiSurfaceBits_(context, command);
}

int RdpGraphics::OnBitmapUpdate(rdpContext *context, const BITMAP_UPDATE *bitmap)
{
    RdpGraphics &self = GraphicsOf(context);
    self.Seen(Bitmap);
    return self.gdiBitmapUpdate_(context, bitmap);
}

unsigned RdpGraphics::OnUpdateSurfaces(RdpgfxClientContext *channel)
{
    auto *gdi = static_cast<rdpGdi *>(channel->custom);
    RdpGraphics &self = GraphicsOf(gdi->context);
    EnterCriticalSection(&channel->mux);
    UINT16 *ids = nullptr;
    UINT16 count = 0;
    if (channel->GetSurfaceIds(channel, &ids, &count) == CHANNEL_RC_OK)
        for (UINT16 i = 0; i < count; ++i)
            if (auto *surface = static_cast<gdiGfxSurface *>(channel->GetSurfaceData(channel, ids[i])))
                KeepChangedParts(gdi, surface);
    std::free(ids);
    LeaveCriticalSection(&channel->mux);
    return self.gdiUpdateSurfaces_(channel);
}
