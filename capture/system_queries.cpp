// Permission and preference queries of the capture bridge.
#include <cmath>

#include "mac_capture.h"
#include "platform/platform.h"

using corvane::platform::current;

extern "C" int32_t mac_accessibility_trusted(int32_t prompt) {
    return current().privacy().accessibilityTrusted(prompt != 0) ? 1 : 0;
}

extern "C" int32_t mac_screen_access(int32_t request) {
    return current().privacy().screenAccess(request != 0) ? 1 : 0;
}

extern "C" int32_t mac_double_click_ms(void) {
    const double seconds = current().inputPrefs().doubleClickSeconds();
    return static_cast<int32_t>(std::lround(seconds * 1000.0));
}
