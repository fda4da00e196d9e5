#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include "x11_platform.h"

namespace corvane::platform::x11 {

bool X11Privacy::screenAccess(bool) {
    std::lock_guard lock(conn_.mutex());
    Display* d = conn_.get();
    if (!d)
        return false;
    XImage* image = XGetImage(d, DefaultRootWindow(d), 0, 0, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return false;
    XDestroyImage(image);
    return true;
}

bool X11Privacy::accessibilityTrusted(bool) {
    std::lock_guard lock(conn_.mutex());
    Display* d = conn_.get();
    if (!d)
        return false;
    int event = 0, error = 0, major = 0, minor = 0;
    return XTestQueryExtension(d, &event, &error, &major, &minor) == True;
}

bool X11Privacy::reset(std::string_view service, std::string_view bundleId, std::string& message) {
    message = "X11 keeps no privacy decisions: nothing to reset for " + std::string(service) +
              " of " + std::string(bundleId);
    return true;
}

bool X11Privacy::openSettings(std::string_view service, std::string& message) {
    if (service == kScreenService)
        message = "X11 has no Screen Recording switch. The server sees the screen when it can "
                  "open the X display named by DISPLAY: start Corvane inside your desktop "
                  "session, as the user who is logged in there.";
    else if (service == kInputService)
        message = "X11 has no Accessibility switch. The server works the keyboard and mouse "
                  "through the XTEST extension, which this X server must offer (most do; "
                  "Xvfb and Xorg have it unless started with -extension XTEST).";
    else
        message = "X11 keeps no settings for " + std::string(service) + ".";
    return false;
}

} // namespace corvane::platform::x11
