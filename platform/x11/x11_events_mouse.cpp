// Pointer, buttons and wheel over XTest.
#include <cmath>
#include <cstdlib>

#include <X11/extensions/XTest.h>

#include "x11_events.h"

namespace corvane::platform::x11 {

namespace {

constexpr int kWheelUp = 4, kWheelDown = 5, kWheelLeft = 6, kWheelRight = 7;
constexpr unsigned long kNoDelay = 0;

bool isDown(MouseEventType t) {
    return t == MouseEventType::LeftDown || t == MouseEventType::RightDown ||
           t == MouseEventType::OtherDown;
}

bool isUp(MouseEventType t) {
    return t == MouseEventType::LeftUp || t == MouseEventType::RightUp ||
           t == MouseEventType::OtherUp;
}

int toPixel(double points) {
    return static_cast<int>(std::lround(points * configuredScale()));
}

} // namespace

int xButtonFor(int32_t button) {
    switch (button) {
    case 0:
        return 1;
    case 1:
        return 3;
    case 2:
        return 2;
    default:
        return button >= 3 && button <= 20 ? button + 5 : 0; // after the wheel buttons
    }
}

std::vector<WheelClicks> wheelClicksFor(int32_t verticalLines, int32_t horizontalLines) {
    std::vector<WheelClicks> out;
    if (verticalLines != 0)
        out.push_back({verticalLines > 0 ? kWheelUp : kWheelDown, std::abs(verticalLines)});
    if (horizontalLines != 0)
        out.push_back({horizontalLines > 0 ? kWheelLeft : kWheelRight, std::abs(horizontalLines)});
    return out;
}

int extraClicksNeeded(int64_t clickState, int64_t msSincePreviousPress, int64_t xIntervalMs) {
    if (clickState < 2)
        return 0;
    if (msSincePreviousPress >= 0 && msSincePreviousPress <= xIntervalMs)
        return 0; // X counts this press onto the previous one itself
    return static_cast<int>(clickState - 1);
}

void X11Events::fakeButton(Display* d, int button, bool down) {
    XTestFakeButtonEvent(d, static_cast<unsigned>(button), down ? True : False, kNoDelay);
    const bool wheel = button >= kWheelUp && button <= kWheelRight;
    if (down && !wheel)
        heldButtons_.insert(button);
    else
        heldButtons_.erase(button);
}

bool X11Events::postMouse(MouseEventType type, PointF at, int32_t button, int64_t clickState) {
    std::lock_guard lock(conn_.mutex());
    Display* d = ready();
    if (!d)
        return false;
    XTestFakeMotionEvent(d, -1, toPixel(at.x), toPixel(at.y), 0);
    const int xButton = xButtonFor(button);
    if ((isDown(type) || isUp(type)) && xButton == 0)
        return false;
    if (isDown(type)) {
        const auto now = clock_();
        auto last = lastPress_.find(xButton);
        const int64_t since =
            last == lastPress_.end()
                ? -1
                : std::chrono::duration_cast<std::chrono::milliseconds>(now - last->second).count();
        const auto intervalMs =
            static_cast<int64_t>(std::lround(prefs_->doubleClickSeconds() * 1000));
        for (int i = extraClicksNeeded(clickState, since, intervalMs); i > 0; --i) {
            fakeButton(d, xButton, true);
            fakeButton(d, xButton, false);
        }
        fakeButton(d, xButton, true);
        lastPress_[xButton] = now;
    } else if (isUp(type)) {
        fakeButton(d, xButton, false);
    }
    XFlush(d);
    return true;
}

bool X11Events::postScroll(int32_t verticalLines, int32_t horizontalLines) {
    std::lock_guard lock(conn_.mutex());
    Display* d = ready();
    if (!d)
        return false;
    for (const WheelClicks& w : wheelClicksFor(verticalLines, horizontalLines)) {
        for (int i = 0; i < w.clicks; ++i) {
            fakeButton(d, w.button, true);
            fakeButton(d, w.button, false);
        }
    }
    XFlush(d);
    return true;
}

} // namespace corvane::platform::x11
