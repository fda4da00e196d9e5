// Virtual displays of the capture bridge: a table from display id to the
// platform's display object; dropping an entry removes the display.
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "vdisplay.h"

#include "base/await.h"
#include "capture_log.h"
#include "mac_capture.h"
#include "platform/platform.h"

namespace platform = corvane::platform;

namespace {

std::mutex gTableLock;
// Never destroyed: the table may still be emptied by a termination handler
// while exit handlers run.
auto& gTable = *new std::map<uint32_t, std::unique_ptr<platform::VirtualDisplay>>();

// How long a compositor has to make a virtual display (one that answers
// later is left to drop it: see MacAwaited).
constexpr uint64_t kCreateLimitMs = 5000;

constexpr double kPointsPerInch = 110.0;
constexpr double kMillimetresPerInch = 25.4;

} // namespace

platform::VirtualDisplayDescriptor
corvane::capture::vdisplayDescriptor(uint32_t width, uint32_t height, int32_t refreshRate,
                                     int32_t index, uint32_t toggle, int32_t hidpi) {
    platform::VirtualDisplayDescriptor d;
    const auto i = static_cast<uint32_t>(index);
    d.name = "Corvane Display " + std::to_string(index + 1);
    d.vendorId = 0x4356;
    d.productId = 256 + i + 128 * (toggle & 1);
    d.serialNumber =
        (i << 28) + (hidpi ? (1u << 27) : 0) + ((width & 0x3FFE) << 12) + ((height / 2) & 0x1FFF);
    d.maxPixelsWide = width;
    d.maxPixelsHigh = height;
    const uint32_t w = hidpi ? width / 2 : width;
    const uint32_t h = hidpi ? height / 2 : height;
    d.widthMillimetres = w * kMillimetresPerInch / kPointsPerInch;
    d.heightMillimetres = h * kMillimetresPerInch / kPointsPerInch;
    d.modePointsWide = w;
    d.modePointsHigh = h;
    d.refreshRate = refreshRate < 31 ? 30.0 : static_cast<double>(refreshRate);
    d.hiDPI = hidpi != 0;
    return d;
}

extern "C" uint32_t mac_vdisplay_create(uint32_t width, uint32_t height, int32_t refreshRate,
                                        int32_t index, uint32_t toggle, int32_t hidpi) {
    auto& config = platform::current().displayConfig();
    if (!config.virtualDisplaysSupported()) {
        corvane::capture::log("mac_vdisplay: %s", platform::current().terms().noVirtual);
        return 0;
    }
    using Made = std::pair<std::unique_ptr<platform::VirtualDisplay>, std::string>;
    MacAwaited<Made> made;
    config.createVirtualDisplay(
        corvane::capture::vdisplayDescriptor(width, height, refreshRate, index, toggle, hidpi),
        [answer = made.answer()](std::unique_ptr<platform::VirtualDisplay> display,
                                 const std::string& error) {
            answer(Made{std::move(display), error});
        });
    std::optional<Made> result = made.wait(kCreateLimitMs);
    if (!result) {
        corvane::capture::log("mac_vdisplay: %s did not make the virtual display within %llu ms",
                              platform::current().terms().system,
                              static_cast<unsigned long long>(kCreateLimitMs));
        return 0;
    }
    auto display = std::move(result->first);
    if (!display) {
        corvane::capture::log("mac_vdisplay: %s (%s)", platform::current().terms().virtualUnmade,
                              result->second.c_str());
        return 0;
    }
    const uint32_t id = display->id();
    if (id == 0) {
        corvane::capture::log("mac_vdisplay: no display id");
        return 0;
    }
    std::lock_guard lock(gTableLock);
    gTable[id] = std::move(display);
    return id;
}

extern "C" void mac_vdisplay_destroy(uint32_t id) {
    std::unique_ptr<platform::VirtualDisplay> gone;
    {
        std::lock_guard lock(gTableLock);
        auto it = gTable.find(id);
        if (it == gTable.end())
            return;
        gone = std::move(it->second);
        gTable.erase(it);
    }
}

extern "C" void mac_vdisplay_destroy_all(void) {
    std::map<uint32_t, std::unique_ptr<platform::VirtualDisplay>> gone;
    {
        std::lock_guard lock(gTableLock);
        gone.swap(gTable);
    }
}
