// Screen capture on X11. Displays: id 0 is the whole X screen (the main
// display); ids 1..n are the RandR monitors in the order the server lists
// them. Frames are read with MIT-SHM, only where XDamage reports changes;
// the cursor is composited from XFixes' image; scaling uses pixman.
#pragma once
#include <atomic>
#include <memory>
#include <vector>

#include "../capture.h"
#include "x11_connection.h"

namespace corvane::platform::x11 {

struct CaptureRegion {
    uint32_t id = 0;
    Rect pixels; // on the X screen
};

// The capturable regions of the display's default screen.
std::vector<CaptureRegion> captureRegions(Display* display);

class X11Capture : public Capture {
  public:
    void shareableContent(ContentReply reply) override;
    std::unique_ptr<CaptureStream> createStream(const CaptureDisplay& display,
                                                const CaptureSettings& settings, CaptureSink& sink,
                                                std::string& error) override;
};

// A capture connection: X protocol errors and a lost connection do not end
// the process; `lost` turns true once the connection broke (set on the
// thread that used the connection).
struct OwnedDisplay {
    DisplayPtr display;
    std::shared_ptr<std::atomic<bool>> lost = std::make_shared<std::atomic<bool>>(false);
};
OwnedDisplay openCaptureDisplay();

} // namespace corvane::platform::x11
