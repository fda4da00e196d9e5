// Reading pixels of an X display from a test, and painting its root window.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace e2e {

// The 0xRRGGBB colour at (x, y) of the display's root window.
std::optional<uint32_t> pixelAt(const std::string& display, int x, int y);
// How many pixels of a rectangle differ between two displays by more than
// `tolerance` in some colour channel.
std::optional<size_t> pixelsApart(const std::string& a, const std::string& b, int x, int y, int w,
                                  int h, int tolerance);
// Paints the root window in one colour ("#rrggbb") with xsetroot.
bool setRootColour(const std::string& display, const std::string& colour);
// Fills a rectangle of the root window with one colour (0xRRGGBB; a
// 24-bit TrueColor display).
bool fillRect(const std::string& display, int x, int y, int w, int h, uint32_t rgb);
// Gives the display's first RandR output an EDID, as a real monitor has, so
// that the server under test treats it as one (it takes only the modes it
// lists). Xvfb lets any client add the property.
bool plugMonitor(const std::string& display);

} // namespace e2e
