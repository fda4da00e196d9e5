// What a client may send on the clipboard channel, and the pictures another
// program may put on the desktop's clipboard: the channel's byte stream
// (split into PDUs, then read as capabilities and format lists), DIBs, PNG
// and TIFF data. The first byte picks the reader.
#include <cstdlib>
#include <vector>

#include "capture/clipboard_image.h"
#include "server/shadow/ext/cliprdr_formats.h"

namespace {

using corvane::capture::Picture;
namespace cliprdr = shadow_ext::cliprdr;

// A picture that came out of a reader is within the limits and whole.
void checkPicture(const std::optional<Picture>& picture) {
    if (!picture)
        return;
    if (!corvane::capture::pictureSizeAllowed(picture->width, picture->height) ||
        picture->bgra.size() != size_t(picture->width) * picture->height * 4)
        std::abort();
}

// A format list read with long names reads the same after writing it again.
void checkFormatList(const cliprdr::Pdu& pdu) {
    const auto formats = cliprdr::parseFormatList(pdu.body, pdu.flags, true);
    if (!formats)
        return;
    if (formats->size() > cliprdr::kMaxFormats)
        std::abort();
    const auto again = cliprdr::parseFormatList(cliprdr::encodeFormatList(*formats, true), 0, true);
    if (!again || *again != *formats)
        std::abort();
}

void readStream(const uint8_t* data, size_t size) {
    // Small limit and uneven chunks, so that skipping and reassembly run.
    cliprdr::PduReader reader(512);
    size_t at = 0;
    for (size_t chunk = 1; at < size; chunk = chunk % 7 + 1) {
        const size_t n = std::min(chunk, size - at);
        reader.feed(data + at, n, [](const cliprdr::Pdu& pdu) {
            if (!pdu.oversized && pdu.body.size() != pdu.length)
                std::abort();
            cliprdr::parseCapabilities(pdu.body);
            cliprdr::parseFormatList(pdu.body, pdu.flags, false);
            checkFormatList(pdu);
            cliprdr::utf16ToUtf8(pdu.body.data(), pdu.body.size());
        });
        at += n;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t* rest = data + 1;
    const size_t restSize = size - 1;
    switch (data[0] % 4) {
    case 0:
        readStream(rest, restSize);
        break;
    case 1:
        checkPicture(cliprdr::parseDib(rest, restSize));
        break;
    case 2:
        checkPicture(corvane::capture::decodePng(rest, restSize));
        break;
    default:
        checkPicture(corvane::capture::decodeTiff(rest, restSize));
        break;
    }
    return 0;
}
