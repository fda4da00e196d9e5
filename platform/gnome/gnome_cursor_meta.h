// The cursor as PipeWire's cursor metadata carries it (a bitmap in one of the
// 32-bit video formats, straight or premultiplied alpha, with a row stride
// and a hot spot), turned into the platform's CursorImage, and the seed that
// tells the subsystem when the shape changed. Plain values only: the capture
// code reads them out of the SPA structures.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/cursor.h"

namespace corvane::platform::gnome {

// Byte order of one pixel in memory.
enum class GnomeCursorPixelOrder { BGRA, RGBA, ARGB, ABGR };

struct GnomeCursorBitmap {
    GnomeCursorPixelOrder order = GnomeCursorPixelOrder::RGBA;
    bool premultiplied = false;
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0; // bytes from one row to the next
    int32_t hotX = 0;   // pixels from the top-left corner
    int32_t hotY = 0;
    const uint8_t* pixels = nullptr;
    size_t size = 0; // bytes readable at pixels
};

// Larger than any cursor a compositor sends (mutter caps the metadata at
// 384x384); a bigger bitmap is taken for garbage.
inline constexpr int32_t kGnomeCursorMaxSide = 1024;

// The image in premultiplied BGRA, its size and hot spot in points at
// `pixelsPerPoint` (the monitor's scale); nothing when the bitmap does not
// describe an image (no pixels, sizes out of range, a stride shorter than a
// row, rows past the end of the buffer, a scale that is not positive).
std::optional<CursorImage> gnomeCursorImage(const GnomeCursorBitmap& bitmap,
                                            double pixelsPerPoint = 1.0);

// Keeps CursorSource::seed()'s promise: a non-negative value that changes
// when the shape changes, and only then (a cursor that moves or is sent
// again keeps it). Not locked: its owner serialises calls.
class GnomeCursorSerial {
  public:
    // Notes the current image and returns the seed.
    int32_t note(const CursorImage& image);
    // Notes that no cursor is shown (metadata id 0) and returns the seed.
    int32_t noteHidden();
    int32_t seed() const { return seed_; }

  private:
    int32_t noteShape(uint64_t hash);
    int32_t seed_ = 0;
    std::optional<uint64_t> last_;
};

// A 64-bit FNV-1a hash of the shape: sizes, hot spot and pixels.
uint64_t gnomeCursorShapeHash(const CursorImage& image);

} // namespace corvane::platform::gnome
