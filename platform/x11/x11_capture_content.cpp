#include <X11/extensions/Xrandr.h>

#include "x11_capture.h"
#include "x11_capture_stream.h"
#include "x11_display_config.h"

namespace corvane::platform::x11 {

namespace {

bool hasMonitors(Display* display) {
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XRRQueryExtension(display, &eventBase, &errorBase))
        return false;
    if (!XRRQueryVersion(display, &major, &minor))
        return false;
    return major > 1 || (major == 1 && minor >= 5);
}

} // namespace

std::vector<CaptureRegion> captureRegions(Display* display) {
    const int screen = DefaultScreen(display);
    std::vector<CaptureRegion> regions;
    regions.push_back({0, {0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)}});
    if (!hasMonitors(display))
        return regions;
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, RootWindow(display, screen), True, &count);
    for (int i = 0; monitors && i < count; ++i) {
        // A virtual display's monitor is found under the display's own id.
        char* name = XGetAtomName(display, monitors[i].name);
        const uint32_t virtualId = virtualIdOfMonitor(name);
        if (name)
            XFree(name);
        regions.push_back({virtualId ? virtualId : static_cast<uint32_t>(i + 1),
                           {monitors[i].x, monitors[i].y, monitors[i].width, monitors[i].height}});
    }
    if (monitors)
        XRRFreeMonitors(monitors);
    return regions;
}

void X11Capture::shareableContent(ContentReply reply) {
    std::optional<ShareableContent> content;
    // A connection per query: a server that went away since the last one
    // must not take the process with it.
    if (OwnedDisplay owned = openCaptureDisplay(); owned.display) {
        Display* display = owned.display.get();
        {
            const double scale = configuredScale();
            content.emplace();
            for (const auto& region : captureRegions(display))
                content->displays.push_back({region.id, region.pixels.x / scale,
                                             region.pixels.y / scale, region.pixels.width / scale,
                                             region.pixels.height / scale});
            content->mainDisplayId = 0;
        }
    }
    if (content)
        reply(std::move(content), {});
    else
        reply(std::nullopt, "the X display cannot be opened");
}

std::unique_ptr<CaptureStream> X11Capture::createStream(const CaptureDisplay& display,
                                                        const CaptureSettings& settings,
                                                        CaptureSink& sink, std::string& error) {
    if (settings.width <= 0 || settings.height <= 0 || settings.queueDepth < 1) {
        error = "the frame size or queue depth is not usable";
        return nullptr;
    }
    return std::make_unique<X11CaptureStream>(display.id, settings, sink);
}

} // namespace corvane::platform::x11
