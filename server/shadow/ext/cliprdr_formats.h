// The clipboard channel's wire formats, as plain functions over bytes: PDU
// framing, capabilities, format lists, text (UTF-16LE) and device-
// independent bitmaps. Readers take untrusted input from clients: they check
// every length before use and answer "nothing" for anything malformed or too
// large, never more than the limits below in memory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "capture/clipboard_image.h"

namespace shadow_ext::cliprdr {

enum : uint16_t {
    kMonitorReady = 0x0001,
    kFormatList = 0x0002,
    kFormatListResponse = 0x0003,
    kFormatDataRequest = 0x0004,
    kFormatDataResponse = 0x0005,
    kTempDirectory = 0x0006,
    kClipCaps = 0x0007,
    kFileContentsRequest = 0x0008,
    kFileContentsResponse = 0x0009,
    kLockClipData = 0x000A,
    kUnlockClipData = 0x000B,
};
enum : uint16_t { kResponseOk = 0x0001, kResponseFail = 0x0002, kAsciiNames = 0x0004 };
enum : uint32_t { kUseLongFormatNames = 0x00000002 };
enum : uint32_t { kCfText = 1, kCfDib = 8, kCfUnicodeText = 13, kCfDibV5 = 17 };

// Largest PDU body kept: a picture at the size limit as a 32-bit DIB plus
// its header. Larger PDUs are skipped unread.
constexpr size_t kMaxBody = size_t(16777216) * 4 + 4096;
// A format list names at most this many formats of at most this many
// characters; anything beyond is refused.
constexpr size_t kMaxFormats = 256;
constexpr size_t kMaxFormatName = 256;

struct Pdu {
    uint16_t type = 0;
    uint16_t flags = 0;
    uint32_t length = 0; // the body's length as announced
    bool oversized = false;
    std::vector<uint8_t> body; // empty when oversized
};

// Splits the channel's byte stream into PDUs. A body longer than the limit
// is skipped as it arrives and reported once as oversized.
class PduReader {
  public:
    explicit PduReader(size_t maxBody = kMaxBody) : maxBody_(maxBody) {}
    void feed(const uint8_t* data, size_t size, const std::function<void(const Pdu&)>& onPdu);

  private:
    size_t maxBody_;
    std::vector<uint8_t> header_;
    std::optional<Pdu> current_;
    uint64_t skipLeft_ = 0;
};

std::vector<uint8_t> encodePdu(uint16_t type, uint16_t flags, const std::vector<uint8_t>& body);

struct ClipFormat {
    uint32_t id = 0;
    std::string name; // UTF-8; empty for the standard formats
    bool operator==(const ClipFormat&) const = default;
};

// The general capability's flags from a capabilities PDU body.
std::optional<uint32_t> parseCapabilities(const std::vector<uint8_t>& body);
std::vector<uint8_t> encodeCapabilities(uint32_t generalFlags);

std::optional<std::vector<ClipFormat>> parseFormatList(const std::vector<uint8_t>& body,
                                                       uint16_t flags, bool longNames);
std::vector<uint8_t> encodeFormatList(const std::vector<ClipFormat>& formats, bool longNames);

// UTF-16LE text, cut at its first NUL; nothing for an odd length. Unpaired
// surrogates become U+FFFD.
std::optional<std::string> utf16ToUtf8(const uint8_t* data, size_t size);
// UTF-16LE with a terminating NUL; invalid UTF-8 becomes U+FFFD.
std::vector<uint8_t> utf8ToUtf16(const std::string& text);

// A device-independent bitmap (header, optional masks or colour table,
// pixels): 24 or 32 bits, uncompressed or with 8-bit bit fields, either row
// order. Pixels come out top-down B, G, R, A; without an alpha mask they are
// opaque. Nothing for anything malformed or outside the picture limits.
std::optional<corvane::capture::Picture> parseDib(const uint8_t* data, size_t size);
// A 32-bit bottom-up DIB of the pixels (BITMAPINFOHEADER, no compression).
std::vector<uint8_t> encodeDib(const corvane::capture::Picture& picture);

} // namespace shadow_ext::cliprdr
