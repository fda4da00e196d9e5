#include "sim_platform.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace corvane::platform::sim {

bool SimDisplays::mainDisplay(MainDisplayInfo& out) {
    std::lock_guard lock(mutex_);
    if (!available_)
        return false;
    out = main_;
    return true;
}

void SimDisplays::setMain(int32_t pixelWidth, int32_t pixelHeight, double scale) {
    std::lock_guard lock(mutex_);
    if (scale <= 0)
        scale = 1;
    main_ = {pixelWidth, pixelHeight, static_cast<int32_t>(std::lround(pixelWidth / scale)),
             static_cast<int32_t>(std::lround(pixelHeight / scale))};
}

void SimDisplays::setAvailable(bool available) {
    std::lock_guard lock(mutex_);
    available_ = available;
}

double SimInputPrefs::doubleClickSeconds() {
    std::lock_guard lock(mutex_);
    return seconds_;
}

void SimInputPrefs::setDoubleClickSeconds(double seconds) {
    std::lock_guard lock(mutex_);
    seconds_ = seconds;
}

SimPlatform::SimPlatform() = default;

const HostTerms& SimPlatform::terms() const {
    static constexpr HostTerms kMac = {
        "the Mac",
        "the Mac's",
        "macOS",
        "CGError",
        "Mac position",
        "the virtual display classes are not available on this macOS",
        "CGVirtualDisplay could not be created",
        "every display draws at 2x",
        "ScreenCaptureKit",
        "Screen Recording allowed",
        "the Mac account",
    };
    return kMac;
}

std::unique_ptr<SimPlatform> SimPlatform::fromEnvironment() {
    auto sim = std::make_unique<SimPlatform>();
    if (const char* display = std::getenv("CORVANE_SIM_MAIN_DISPLAY")) {
        int w = 0, h = 0;
        double scale = 1;
        if (std::sscanf(display, "%dx%d@%lf", &w, &h, &scale) >= 2 && w > 0 && h > 0)
            sim->displays_.setMain(w, h, scale);
    }
    if (const char* db = std::getenv("CORVANE_SIM_PRIVACY_DB"); db && *db)
        sim->privacy_.setDatabasePath(std::string(db));
    if (const char* ms = std::getenv("CORVANE_SIM_DOUBLE_CLICK_MS"); ms && *ms)
        sim->inputPrefs_.setDoubleClickSeconds(std::atof(ms) / 1000.0);
    return sim;
}

} // namespace corvane::platform::sim
