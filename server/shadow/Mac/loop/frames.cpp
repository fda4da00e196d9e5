#include "frames.h"

#include <algorithm>

#include <freerdp/codec/color.h>
#include <freerdp/codec/region.h>

#include "base/clock.h"
#include "base/log.h"
#include "capture/mac_capture.h"
#include "core/host.h"
#include "core/section_lock.h"
#include "frame_rate.h"
#include "platform/platform.h"
#include "server/shadow/ext/peer_guard.h"

namespace {

// One window of capture measurements for all displays, touched under
// frameLock only.
struct CaptureStats {
    uint64_t windowStart = 0; // ns
    uint64_t frames = 0;
    uint64_t copyUs = 0, publishUs = 0, longestPublishUs = 0;
};
CaptureStats gStats;

struct Block {
    int32_t x0, y0, dx, dy, w, h;
};

// Clips one frame rectangle to the frame and the surface; false when nothing
// of it is left.
bool placeRect(int64_t x, int64_t y, int64_t w, int64_t h, int32_t width, int32_t height,
               int32_t ox, int32_t oy, const rdpShadowSurface* surface, Block& out) {
    const int64_t x0 = std::max<int64_t>(x, 0), x1 = std::min<int64_t>(x + w, width);
    const int64_t y0 = std::max<int64_t>(y, 0), y1 = std::min<int64_t>(y + h, height);
    if (x1 <= x0 || y1 <= y0)
        return false;
    const int64_t sw = surface->width, sh = surface->height;
    const int64_t dx = x0 + ox, dy = y0 + oy;
    if (sw <= 0 || sh <= 0 || dx < 0 || dx >= sw || dy < 0 || dy >= sh)
        return false;
    const int64_t cw = std::min(x1 - x0, sw - dx), ch = std::min(y1 - y0, sh - dy);
    if (cw <= 0 || ch <= 0)
        return false;
    out = {static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(dx),
           static_cast<int32_t>(dy), static_cast<int32_t>(cw), static_cast<int32_t>(ch)};
    return true;
}

void copyBlock(rdpShadowSurface* surface, const uint8_t* pixels, intptr_t stride, const Block& b) {
    freerdp_image_copy_no_overlap(
        surface->data, surface->format, surface->scanline, static_cast<UINT32>(b.dx),
        static_cast<UINT32>(b.dy), static_cast<UINT32>(b.w), static_cast<UINT32>(b.h), pixels,
        PIXEL_FORMAT_BGRX32, static_cast<UINT32>(stride), static_cast<UINT32>(b.x0),
        static_cast<UINT32>(b.y0), nullptr, FREERDP_FLIP_NONE);
    const RECTANGLE_16 r = {static_cast<UINT16>(b.dx), static_cast<UINT16>(b.dy),
                            static_cast<UINT16>(b.dx + b.w), static_cast<UINT16>(b.dy + b.h)};
    region16_union_rect(&surface->invalidRegion, &surface->invalidRegion, &r);
}

// Copies the frame's changed rectangles; true when anything was copied.
bool copyFrame(rdpShadowSurface* surface, int32_t ox, int32_t oy, const uint8_t* pixels,
               intptr_t stride, int32_t width, int32_t height, const int32_t* rects,
               int32_t count) {
    if (width < 1 || height < 1)
        return false;
    const bool whole = count < 1 || !rects;
    const int32_t passes = whole ? 1 : count;
    bool copied = false;
    for (int32_t i = 0; i < passes; ++i) {
        Block b{};
        const bool placed = whole
                                ? placeRect(0, 0, width, height, width, height, ox, oy, surface, b)
                                : placeRect(rects[4 * i], rects[4 * i + 1], rects[4 * i + 2],
                                            rects[4 * i + 3], width, height, ox, oy, surface, b);
        if (placed) {
            copyBlock(surface, pixels, stride, b);
            copied = true;
        }
    }
    return copied;
}

bool clientListEmpty(rdpShadowServer* server) {
    ArrayList_Lock(server->clients);
    const size_t count = ArrayList_Count(server->clients);
    ArrayList_Unlock(server->clients);
    return count == 0;
}

void recordStats(uint64_t t0, uint64_t t1, uint64_t t2) {
    gStats.frames += 1;
    gStats.copyUs += (t1 - t0) / 1000;
    const uint64_t publishUs = (t2 - t1) / 1000;
    gStats.publishUs += publishUs;
    gStats.longestPublishUs = std::max(gStats.longestPublishUs, publishUs);
    if (gStats.windowStart == 0) {
        gStats.windowStart = t2;
        return;
    }
    const uint64_t elapsed = t2 - gStats.windowStart;
    if (elapsed < 5000000000ull)
        return;
    const double seconds = static_cast<double>(elapsed) / 1e9;
    const double frames = static_cast<double>(gStats.frames);
    MAC_LOG_FN(WLOG_INFO, "mac_shadow_frame_callback",
               "capture: %.1f fps from %s, copy avg %.1f ms, publish (waiting for "
               "clients) avg %.1f ms max %.1f ms (%.0f s)",
               frames / seconds, corvane::platform::current().terms().captureName,
               static_cast<double>(gStats.copyUs) / frames / 1000.0,
               static_cast<double>(gStats.publishUs) / frames / 1000.0,
               static_cast<double>(gStats.longestPublishUs) / 1000.0, seconds);
    gStats = CaptureStats{};
    gStats.windowStart = t2;
}

// Runs under frameLock (held by `frame`); releases it before telling the
// capture a new rate.
void adaptRateAndUnlock(macShadowSubsystem* record, SectionLock& frame, const int32_t* rects,
                        int32_t count, int32_t width, int32_t height, uint64_t now) {
    if (record->adaptiveFps) {
        FrameRateState s{record->fps, record->targetFps, record->activeClientsSeen,
                         record->changeAverage, record->lowerSince};
        mac_shadow_adapt_fps(s, mac_shadow_changed_share(rects, count, width, height), now);
        record->targetFps = s.targetFps;
        record->changeAverage = s.changeAverage;
        record->lowerSince = s.lowerSince;
    }
    if (record->adaptiveFps && record->targetFps != record->captureFps) {
        const int32_t fps = record->captureFps = record->targetFps;
        frame.unlock();
        if (fps >= 1)
            mac_capture_set_fps(fps);
        return;
    }
    frame.unlock();
}

void noteFrame(macShadowSubsystem* record, int32_t ox, int32_t oy, int32_t width, int32_t height,
               const int32_t* rects, int32_t count) {
    const uint64_t n = ++record->framesReceived;
    record->lastFrameTick = mac_now_ms();
    if (n == 1 || n % 300 == 0)
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_frame_callback",
                   "capture: %llu frames received (%dx%d at %d,%d)",
                   static_cast<unsigned long long>(n), width, height, ox, oy);
    // Every frame, for tracing where a change on the desktop stopped.
    if (!mac_log_active(WLOG_DEBUG))
        return;
    const int32_t whole[4] = {0, 0, width, height}; // no rectangles: all changed
    const int32_t* first = count > 0 && rects ? rects : whole;
    MAC_LOG_FN(WLOG_DEBUG, "mac_shadow_frame_callback",
               "capture: frame %llu, %d changed rectangles, the first %d,%d %dx%d",
               static_cast<unsigned long long>(n), count, first[0], first[1], first[2], first[3]);
}

} // namespace

extern "C" void mac_shadow_frame_callback(void* user, int32_t ox, int32_t oy, const uint8_t* pixels,
                                          intptr_t stride, int32_t width, int32_t height,
                                          const int32_t* rects, int32_t count) {
    auto* record = static_cast<macShadowSubsystem*>(user);
    if (!record)
        return;
    noteFrame(record, ox, oy, width, height, rects, count);
    rdpShadowServer* server = record->common.base.server;
    if (!server || !server->surface || !server->clients || !pixels)
        return;
    rdpShadowSurface* surface = server->surface;
    const uint64_t t0 = mac_now_ns();
    SectionLock frame(record->frameLock);
    {
        SectionLock surfaceLock(surface->lock);
        if (copyFrame(surface, ox, oy, pixels, stride, width, height, rects, count))
            record->pictureCaptured = true;
    }
    const uint64_t t1 = mac_now_ns();

    if (clientListEmpty(server)) {
        SectionLock surfaceLock(surface->lock);
        region16_clear(&surface->invalidRegion);
    } else {
        mac_shadow_publish(record);
        recordStats(t0, t1, mac_now_ns());
    }
    adaptRateAndUnlock(record, frame, rects, count, width, height, mac_now_ms());
}

namespace {

void publish(macShadowSubsystem* record, bool evenUnchanged) {
    rdpShadowServer* server = record->common.base.server;
    rdpShadowSurface* surface = server ? server->surface : nullptr;
    if (!surface)
        return;
    bool empty = true;
    {
        SectionLock surfaceLock(surface->lock);
        empty = region16_is_empty(&surface->invalidRegion);
    }
    if (empty && !evenUnchanged)
        return;
    record->publishingCount.fetch_add(1);
    if (record->connectingCount.load() >= 1) {
        // A client is inside its connect step: the region waits for the next
        // publication.
        record->publishingCount.fetch_sub(1);
        return;
    }
    // The library waits here, without a limit of its own, until every
    // subscribed client has taken the frame. Only activated clients are
    // subscribed (the extension layer runs logins before the library
    // subscribes a connection), and the extension layer's guard bounds this
    // wait: a client whose thread stays stuck in a write or in its loop turn
    // while it lasts is disconnected, so it ends within a few seconds.
    shadow_ext_publish_begin();
    mac_shadow_host().frameUpdate(&record->common.base);
    shadow_ext_publish_end();
    record->publishingCount.fetch_sub(1);

    ArrayList_Lock(server->clients);
    if (ArrayList_Count(server->clients) == 1) {
        auto* client = static_cast<rdpShadowClient*>(ArrayList_GetItem(server->clients, 0));
        if (client && client->encoder) {
            const UINT32 fps = mac_shadow_host().preferredFps(client->encoder);
            if (fps >= 1)
                mac_shadow_set_frame_rate(&record->common.base, fps);
        }
    }
    ArrayList_Unlock(server->clients);

    SectionLock surfaceLock(surface->lock);
    region16_clear(&surface->invalidRegion);
}

} // namespace

extern "C" void mac_shadow_publish(macShadowSubsystem* record) {
    publish(record, false);
}

extern "C" void mac_shadow_publish_held_changes(macShadowSubsystem* record) {
    rdpShadowServer* server = record->common.base.server;
    if (!server || !server->surface || !server->clients || clientListEmpty(server))
        return;
    SectionLock frame(record->frameLock);
    publish(record, true);
}

extern "C" void mac_shadow_push_last_frame(macShadowSubsystem* record) {
    rdpShadowServer* server = record->common.base.server;
    if (!server || !server->surface || !server->clients || clientListEmpty(server))
        return;
    if (!record->pictureCaptured) {
        const uint64_t now = mac_now_ms();
        if (record->lastRepaintSkipLog == 0 || now - record->lastRepaintSkipLog >= 10000) {
            record->lastRepaintSkipLog = now;
            MAC_INFO("repaint skipped: no picture captured at this size yet");
        }
        return;
    }
    // The packaged encoder offers no "next frame is a key frame" switch: the
    // full-surface repaint below is what makes H.264 clients whole again.
    rdpShadowSurface* surface = server->surface;
    SectionLock frame(record->frameLock);
    {
        SectionLock surfaceLock(surface->lock);
        const RECTANGLE_16 all = {0, 0, static_cast<UINT16>(surface->width),
                                  static_cast<UINT16>(surface->height)};
        region16_union_rect(&surface->invalidRegion, &surface->invalidRegion, &all);
    }
    mac_shadow_publish(record);
}

namespace {

int startStreams(macShadowSubsystem* record) {
    if (!record->virtualActive) {
        const MacRect& r = record->captureRect;
        return mac_capture_add(0, record->desktopWidth, record->desktopHeight, r.x, r.y, r.width,
                               r.height, 0, 0, mac_shadow_frame_callback, record);
    }
    const DesktopPlan& plan = record->currentPlan;
    for (uint32_t i = 0; i < plan.count && i < 16; ++i) {
        const int32_t w = static_cast<int32_t>(plan.width[i]);
        const int32_t h = static_cast<int32_t>(plan.height[i]);
        if (mac_capture_add(record->virtualIds[i], w, h, 0, 0, w, h, plan.x[i], plan.y[i],
                            mac_shadow_frame_callback, record) != 0) {
            MAC_ERROR("could not capture virtual display %d", static_cast<int>(i));
            return -1;
        }
    }
    return 0;
}

} // namespace

extern "C" int mac_shadow_start_capture(macShadowSubsystem* record) {
    // Teardown sets tearingDown and then stops the capture under displayLock;
    // checking it under the same lock means no stream (and so no frame
    // callback on this record) starts after the teardown's stop. Closing the
    // desktop session does the same with sessionOpen.
    SectionLock lock(record->displayLock);
    if (record->tearingDown.load())
        return -1;
    // Without a session nobody watches: nothing to capture, nothing failed.
    if (!record->sessionOpen.load())
        return 0;
    record->sessionCaptureDue.store(false);
    return startStreams(record);
}

void mac_shadow_reset_capture_stats(void) {
    gStats = CaptureStats{};
}
