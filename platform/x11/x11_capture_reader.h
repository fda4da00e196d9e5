// Reads parts of the screen through one MIT-SHM segment: the upper part is
// the mirror of the captured region (always the latest picture), the lower
// part a staging area for reads narrower than the region.
#pragma once
#include <cstdint>
#include <string>

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include "../types.h"

namespace corvane::platform::x11 {

class ShmReader {
  public:
    ShmReader() = default;
    ShmReader(const ShmReader&) = delete;
    ShmReader& operator=(const ShmReader&) = delete;
    ~ShmReader();

    // Prepares a mirror of `region` (screen pixels); false with a reason.
    bool open(Display* display, const Rect& region, std::string& error);
    // Brings `area` (region coordinates) of the mirror up to date.
    bool read(const Rect& area);

    const uint8_t* mirror() const { return mirror_; }
    intptr_t stride() const { return stride_; }

  private:
    bool readInto(uint8_t* target, int32_t screenX, int32_t screenY, int32_t width, int32_t height);

    Display* display_ = nullptr;
    Rect region_;
    XShmSegmentInfo info_{};
    XImage* image_ = nullptr;
    bool attached_ = false;
    uint8_t* mirror_ = nullptr;
    uint8_t* staging_ = nullptr;
    intptr_t stride_ = 0;
};

} // namespace corvane::platform::x11
