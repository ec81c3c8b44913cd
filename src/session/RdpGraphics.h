#pragma once

#include <QStringList>

#include <atomic>
#include <cstdint>

typedef struct rdp_context rdpContext;
typedef struct rdp_settings rdpSettings;
typedef struct _rdpgfx_client_context RdpgfxClientContext;
struct _RDPGFX_SURFACE_COMMAND;
struct _SURFACE_BITS_COMMAND;
struct _BITMAP_UPDATE;

// How the server's pictures reach the session: the graphics pipeline (RDPGFX on
// the dynamic channel, with H.264 in AVC420 and AVC444, progressive, RemoteFX
// and planar) when the server offers it, else bitmap updates and surface bits.
// Either way the library's GDI draws them into one picture; this class turns the
// pipeline on, hands the channel to the GDI and notes which codecs the pictures
// came in; of what a surface's drawing marks for the screen, it passes on only
// what differs from the picture shown. Attach and Detach run on the channel's thread, Hook on the worker's,
// the drawing callbacks on whichever thread the library draws on; Codecs from
// any thread.
class RdpGraphics {
public:
    // The library's settings for a session: with the pipeline, its codecs at a
    // colour depth of 32 bits, which it needs, H.264 as AVC444 too when avc444;
    // without it, or for a session that asked for fewer than 24 bits, bitmap
    // updates at the depth asked for.
    static bool Apply(rdpSettings *settings, bool pipeline, bool avc444, int colorDepth);

    // After the GDI is made: watch the bitmap updates and surface bits it draws.
    void Hook(rdpContext *context);
    // The server opened the pipeline: the GDI draws what comes on it.
    void Attach(rdpContext *context, RdpgfxClientContext *channel);
    void Detach(rdpContext *context, RdpgfxClientContext *channel);

    // True once the server opened the pipeline in this connection.
    bool PipelineOpen() const { return open_; }
    // The codecs the pictures came in so far, by name: "AVC444v2", "AVC420",
    // "RemoteFX", "progressive", "planar", ... for the pipeline, "bitmap" and
    // "surface bits/..." outside it. Empty before the first picture.
    QStringList Codecs() const;

private:
    enum Codec : uint32_t;
    void Seen(Codec codec) { seen_.fetch_or(uint32_t(1) << codec, std::memory_order_relaxed); }
    static unsigned OnSurfaceCommand(RdpgfxClientContext *channel, const _RDPGFX_SURFACE_COMMAND *command);
    static int OnSurfaceBits(rdpContext *context, const _SURFACE_BITS_COMMAND *command);
    static int OnBitmapUpdate(rdpContext *context, const _BITMAP_UPDATE *bitmap);
    static unsigned OnUpdateSurfaces(RdpgfxClientContext *channel);

    std::atomic<uint32_t> seen_{0};
    std::atomic<bool> open_{false};
    // What the GDI does with each, called after the codec is noted.
    unsigned (*gdiSurfaceCommand_)(RdpgfxClientContext *, const _RDPGFX_SURFACE_COMMAND *) = nullptr;
    int (*gdiSurfaceBits_)(rdpContext *, const _SURFACE_BITS_COMMAND *) = nullptr;
    int (*gdiBitmapUpdate_)(rdpContext *, const _BITMAP_UPDATE *) = nullptr;
    unsigned (*gdiUpdateSurfaces_)(RdpgfxClientContext *) = nullptr;
};

// The session's graphics state, for the library's callbacks: defined by the worker.
RdpGraphics &GraphicsOf(rdpContext *context);
