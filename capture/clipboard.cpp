// The clipboard bridge over the platform's pasteboard: text as UTF-8 strings,
// pictures as raw B, G, R, A pixels. Failures answer 0 without a log line.
#include <cstdlib>
#include <cstring>

#include "clipboard_image.h"
#include "clipboard_text.h"
#include "mac_capture.h"
#include "platform/platform.h"

using corvane::platform::PasteboardType;

namespace {

corvane::platform::Pasteboard& pasteboard() {
    return corvane::platform::current().pasteboard();
}

} // namespace

extern "C" int32_t mac_clipboard_get(char** text) {
    if (!text)
        return 0;
    auto data = pasteboard().read(PasteboardType::Text);
    if (!data)
        return 0;
    const auto* bytes = data->data();
    const size_t length = strnlen(reinterpret_cast<const char*>(bytes), data->size());
    const std::string clean = corvane::capture::sanitizedUtf8(bytes, length);
    auto* copy = static_cast<char*>(std::malloc(clean.size() + 1));
    if (!copy)
        return 0;
    if (!clean.empty())
        std::memcpy(copy, clean.data(), clean.size());
    copy[clean.size()] = '\0';
    *text = copy;
    return 1;
}

extern "C" int32_t mac_clipboard_set(const char* text) {
    if (!text)
        return 0;
    const std::string clean =
        corvane::capture::sanitizedUtf8(reinterpret_cast<const uint8_t*>(text), std::strlen(text));
    return pasteboard().write(PasteboardType::Text,
                              std::vector<uint8_t>(clean.begin(), clean.end()))
               ? 1
               : 0;
}

extern "C" uint32_t mac_clipboard_available(void) {
    const uint32_t types = pasteboard().types();
    uint32_t mask = 0;
    if (types & static_cast<uint32_t>(PasteboardType::Text))
        mask |= 1;
    if (types &
        (static_cast<uint32_t>(PasteboardType::Png) | static_cast<uint32_t>(PasteboardType::Tiff)))
        mask |= 2;
    return mask;
}

extern "C" int32_t mac_clipboard_get_image(uint8_t** pixels, uint32_t* width, uint32_t* height) {
    if (!pixels || !width || !height)
        return 0;
    std::optional<corvane::capture::Picture> picture;
    if (auto png = pasteboard().read(PasteboardType::Png))
        picture = corvane::capture::decodePng(png->data(), png->size());
    else if (auto tiff = pasteboard().read(PasteboardType::Tiff))
        picture = corvane::capture::decodeTiff(tiff->data(), tiff->size());
    if (!picture)
        return 0;
    auto* copy = static_cast<uint8_t*>(std::calloc(picture->bgra.size(), 1));
    if (!copy)
        return 0;
    std::memcpy(copy, picture->bgra.data(), picture->bgra.size());
    *pixels = copy;
    *width = picture->width;
    *height = picture->height;
    return 1;
}

extern "C" int32_t mac_clipboard_set_image(const uint8_t* pixels, uint32_t width, uint32_t height) {
    if (!pixels || !corvane::capture::pictureSizeAllowed(width, height))
        return 0;
    auto png = corvane::capture::encodePng(pixels, width, height);
    if (!png)
        return 0;
    return pasteboard().write(PasteboardType::Png, std::move(*png)) ? 1 : 0;
}

extern "C" int64_t mac_clipboard_change_count(void) {
    return pasteboard().changeCount();
}
