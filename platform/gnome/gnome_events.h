// Event posting into GNOME through the remote-desktop session: keys as evdev
// codes, text as keysyms, absolute pointer motion in the coordinates of the
// stream under the pointer (the recorded monitor or a virtual one), evdev buttons and discrete
// wheel steps. Modifier flags become presses of the matching left modifier key, as on X11. The
// calls have no useful reply and are not waited for; mutter drops motion sent before the stream
// runs, which is not an error. A call fails (false) only when no session is open.
#pragma once
#include <array>
#include <cstdint>
#include <mutex>
#include <set>

#include "../events.h"
#include "gnome_session.h"
#include "gnome_virtual_monitors.h"

namespace corvane::platform::gnome {

class GnomeEvents : public EventPoster {
  public:
    GnomeEvents(GnomeSession& session, GnomeVirtualMonitors& monitors)
        : session_(session), monitors_(monitors) {}
    bool postKey(uint16_t macKeyCode, bool down, uint64_t flags) override;
    bool postUnicode(const char16_t* units, size_t count, bool down) override;
    bool postMouse(MouseEventType type, PointF at, int32_t button, int64_t clickState) override;
    bool postScroll(int32_t verticalLines, int32_t horizontalLines) override;
    void releaseAll() override;

  private:
    bool keycode(uint32_t evdev, bool down);
    bool keysym(uint32_t sym, bool down);
    bool pointerButton(int32_t evdev, bool down);
    bool motion(PointF at);
    void syncModifiers(uint64_t flags);

    GnomeSession& session_;
    GnomeVirtualMonitors& monitors_;
    std::mutex mutex_; // guards what is held
    std::set<uint32_t> keys_;
    std::set<uint32_t> keysyms_;
    std::set<int32_t> buttons_;
    // The helper key pressed for each modifier class, 0 for none.
    std::array<uint32_t, 4> synthesized_{};
};

} // namespace corvane::platform::gnome
