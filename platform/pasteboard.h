// The desktop's general pasteboard (on X11 the CLIPBOARD selection): plain
// text as UTF-8 and pictures as encoded PNG or TIFF data, with a change count
// that grows whenever anyone, this process included, replaces the contents.
//
// Every call may come from any thread and returns in bounded time: a backend
// that has to ask another program for the contents gives up after a few
// seconds and answers "nothing". A write returns once the new contents are in
// place, and the change count it caused is already counted when it returns,
// so a caller that reads the count right after its own write sees that write
// as known. Contents are copied in and out; nothing is shared with callers.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane::platform {

enum class PasteboardType : uint32_t {
    Text = 1, // plain text, UTF-8
    Png = 2,  // PNG file data
    Tiff = 4, // TIFF file data
};

class Pasteboard {
  public:
    virtual ~Pasteboard() = default;
    virtual int64_t changeCount() = 0;
    // The types on the pasteboard now, as a mask of PasteboardType values.
    virtual uint32_t types() = 0;
    // The contents of one type; nothing when that type is not there. Text
    // comes back as UTF-8 (converted when the owner offered another charset).
    virtual std::optional<std::vector<uint8_t>> read(PasteboardType type) = 0;
    // Replaces the whole pasteboard with one item; false when refused (the
    // old contents then stay).
    virtual bool write(PasteboardType type, std::vector<uint8_t> data) = 0;
};

} // namespace corvane::platform
