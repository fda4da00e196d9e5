#include <cstdlib>
#include <cstring>

#include <X11/Xresource.h>

#include "x11_platform.h"

namespace corvane::platform::x11 {

namespace {
constexpr double kDefaultDoubleClickSeconds = 0.4;

double readMultiClickMs(Display* d) {
    const char* resources = XResourceManagerString(d);
    if (!resources)
        return -1;
    XrmInitialize();
    XrmDatabase db = XrmGetStringDatabase(resources);
    if (!db)
        return -1;
    char* type = nullptr;
    XrmValue value{};
    double ms = -1;
    if (XrmGetResource(db, "corvane.multiClickTime", "Corvane.MultiClickTime", &type, &value) &&
        value.addr) {
        ms = std::atof(value.addr);
    }
    XrmDestroyDatabase(db);
    return ms;
}
} // namespace

double X11InputPrefs::doubleClickSeconds() {
    std::lock_guard lock(conn_.mutex());
    Display* d = conn_.get();
    if (!d)
        return kDefaultDoubleClickSeconds;
    const double ms = readMultiClickMs(d);
    return ms > 0 && ms <= 5000 ? ms / 1000.0 : kDefaultDoubleClickSeconds;
}

} // namespace corvane::platform::x11
