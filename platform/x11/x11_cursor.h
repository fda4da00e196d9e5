// The X11 cursor through XFixes: the seed is the serial of the cursor on
// screen (followed through cursor-change events), the image its ARGB picture.
#pragma once
#include <mutex>

#include "../cursor.h"
#include "x11_connection.h"

namespace corvane::platform::x11 {

class X11Cursor : public CursorSource {
  public:
    int32_t seed() override;
    bool current(CursorImage& out) override;

  private:
    bool watch(Display* d);

    Connection conn_; // cursor-change events
    std::mutex imageMutex_;
    uint64_t watchedGeneration_ = 0; // the connection the watch is on; 0 = none
    bool unavailable_ = false;
    int eventBase_ = 0;
    unsigned long serial_ = 0;
};

} // namespace corvane::platform::x11
