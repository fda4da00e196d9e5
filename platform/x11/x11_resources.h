// The root window's resource database (RESOURCE_MANAGER, as xrdb keeps it):
// reading and changing single entries, and the entries that make programs
// draw at 2x, set for a HiDPI desktop and given back afterwards.
#pragma once
#include <optional>
#include <string>

#include <X11/Xlib.h>

namespace corvane::platform::x11 {

// The value of the entry named exactly `name` ("Xft.dpi"); none when absent.
std::optional<std::string> resourceValue(const std::string& db, const std::string& name);
// `db` with the entry set to `value`, or removed when there is none; the
// other lines stay as they are.
std::string withResource(const std::string& db, const std::string& name,
                         const std::optional<std::string>& value);

// The property's text; none when the root window has no resource database.
std::optional<std::string> readRootResources(Display* d);
// Replaces the property; none deletes it.
void writeRootResources(Display* d, const std::optional<std::string>& db);

// Xft.dpi 192 and a cursor twice its size (Xcursor.size, 24 when unset) for
// the programs that start while a desktop runs at 2x. restore() puts back
// what they replaced, unless someone has set another value since.
class HiDpiResources {
  public:
    bool applied() const { return applied_; }
    void apply(Display* d);
    void restore(Display* d);
    // What restore() gives back, as lines of text, and the same taken from
    // such lines (left by a server that ended without giving it back).
    std::string save() const;
    void load(const std::string& text);

  private:
    bool applied_ = false;
    bool hadDatabase_ = false;
    std::optional<std::string> dpi_, cursorSize_; // the values replaced
    std::string ourDpi_, ourCursorSize_;          // the values set
};

} // namespace corvane::platform::x11
