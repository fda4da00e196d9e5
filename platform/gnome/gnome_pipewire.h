// The PipeWire consumer of a mutter screen-cast stream, on a pw_thread_loop
// of its own. It takes BGRx (or BGRA) in shared-memory buffers, maps them
// itself, skips corrupted buffers and uses only the newest of those waiting.
// It keeps a mirror of the newest picture and tells its listeners which
// rectangles of it changed: from the damage metadata where the compositor
// sends it (mutter 44 and later), else from comparing the new picture with
// the mirror. A buffer that changed nothing costs the comparison only. The
// cursor's shape and position (stream metadata) are kept for the cursor
// service and for frames that draw the cursor.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "../types.h"
#include "gnome_cursor_meta.h"

namespace corvane::platform::gnome {

// The cursor from the stream's metadata. Position is the pointer's (the hot
// spot's) place on the monitor in stream pixels.
struct GnomeCursorState {
    bool known = false;   // metadata arrived at least once
    bool visible = false; // on this monitor and not hidden
    int32_t x = 0;
    int32_t y = 0;
    int32_t hotX = 0;
    int32_t hotY = 0;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> bgra; // premultiplied, width * 4 per row
    int32_t seed = -1;         // CursorSource's seed: changes with the shape only
    uint64_t moveSerial = 0;   // grows with every position or shape change
};

struct GnomeFrameListener {
    // Rectangles of the mirror that changed (mirror pixels); the whole
    // picture after a size change.
    std::function<void(const std::vector<Rect>& changed)> changed;
    std::function<void()> cursorChanged;
    // The stream ended (compositor gone, stream removed, PipeWire error).
    std::function<void(const std::string& reason)> stopped;
    // The format was agreed (stream pixels); for a virtual monitor, mutter
    // makes the monitor with it.
    std::function<void(int32_t width, int32_t height)> negotiated;
    // No picture of the agreed size (stream pixels) came within
    // kGnomePictureOverdue of the agreement; again after every such wait
    // until one comes (attempt counts from 0, at most kGnomeOverdueAttempts).
    // mutter 43 may paint a new or resized monitor once, before the consumer
    // has buffers of its size, and paints a still desktop no more: the owner
    // can make it paint.
    std::function<void(int attempt, int32_t width, int32_t height)> overdue;
    // A run of changes went quiet on a compositor that sends no damage
    // (GnomeSettleWatch: mutter 43 may not have recorded the run's last
    // frame) while the pointer is on this picture, at x,y of a picture
    // `width` wide (stream pixels): the owner can make it paint once more.
    std::function<void(int32_t x, int32_t y, int32_t width)> settled;
};

inline constexpr std::chrono::milliseconds kGnomePictureOverdue{500};
inline constexpr int kGnomeOverdueAttempts = 20;

// A picture size the consumer asks for: a virtual monitor's mode.
struct GnomeVideoSize {
    int32_t width = 0;
    int32_t height = 0;
};

// The byte order of a cursor bitmap's SPA video format; nothing for a
// format that is not one of the four 32-bit RGB orders with alpha.
std::optional<GnomeCursorPixelOrder> gnomeCursorOrder(uint32_t spaVideoFormat);

class GnomeFrameSource {
  public:
    GnomeFrameSource();
    ~GnomeFrameSource();
    GnomeFrameSource(const GnomeFrameSource&) = delete;
    GnomeFrameSource& operator=(const GnomeFrameSource&) = delete;

    // Connects to the compositor's node (the PipeWire daemon from the
    // environment, as every client finds it). With a size, only that size
    // is offered (a virtual monitor takes the size its consumer asks for).
    bool start(uint32_t nodeId, std::string& error, std::optional<GnomeVideoSize> size = {});
    // Offers only this size from now on (a virtual monitor changes its mode
    // to it); the new format arrives as `negotiated`. False when not running.
    bool resize(GnomeVideoSize size);
    // Disconnects; listeners hear nothing more. Not from a listener.
    void stop();
    bool running() const { return running_.load(); }

    uint64_t addListener(GnomeFrameListener listener);
    void removeListener(uint64_t id);

    // Runs `use` with the newest picture held still; nothing when no
    // picture arrived yet (false).
    bool withPicture(const std::function<void(const uint8_t* pixels, intptr_t stride, int32_t w,
                                              int32_t h)>& use) const;
    GnomeCursorState cursor() const;
    // Counts what the consumer did (for tests and the log).
    uint64_t picturesCompared() const { return compared_.load(); }
    // Pictures whose changes the compositor's damage metadata named.
    uint64_t picturesWithDamage() const { return damaged_.load(); }

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
    std::atomic<bool> running_{false};
    std::atomic<uint64_t> compared_{0};
    std::atomic<uint64_t> damaged_{0};
};

} // namespace corvane::platform::gnome
