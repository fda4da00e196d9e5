#include <algorithm>
#include <cstring>

#include "cliprdr_formats.h"

#include "capture/clipboard_text.h"

namespace shadow_ext::cliprdr {

namespace {

using corvane::capture::appendUtf8;
using corvane::capture::nextCodePoint;

constexpr size_t kHeaderLength = 8;

uint16_t u16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t u32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// Decodes `units` UTF-16LE code units (stopping at a NUL).
std::string decodeUtf16(const uint8_t* p, size_t units) {
    std::string out;
    for (size_t i = 0; i < units; ++i) {
        uint32_t cp = u16(p + 2 * i);
        if (cp == 0)
            break;
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units) {
            const uint32_t low = u16(p + 2 * (i + 1));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                cp = 0xFFFD;
            }
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        appendUtf8(out, cp);
    }
    return out;
}

void appendUtf16(std::vector<uint8_t>& out, const std::string& text, size_t maxUnits) {
    size_t units = 0;
    for (size_t i = 0; i < text.size();) {
        const uint32_t cp =
            nextCodePoint(reinterpret_cast<const uint8_t*>(text.data()), text.size(), i);
        const size_t need = cp >= 0x10000 ? 2 : 1;
        if (units + need > maxUnits)
            break;
        if (cp >= 0x10000) {
            put16(out, 0xD800 + ((cp - 0x10000) >> 10));
            put16(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put16(out, cp);
        }
        units += need;
    }
}

} // namespace

void PduReader::feed(const uint8_t* data, size_t size,
                     const std::function<void(const Pdu&)>& onPdu) {
    size_t at = 0;
    while (at < size) {
        if (skipLeft_ > 0) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(skipLeft_, size - at));
            skipLeft_ -= n;
            at += n;
            continue;
        }
        if (!current_) {
            while (header_.size() < kHeaderLength && at < size)
                header_.push_back(data[at++]);
            // Some clients pad a PDU with four zero bytes: no PDU has type 0.
            if (header_.size() >= 4 && u16(header_.data()) == 0 && u16(header_.data() + 2) == 0) {
                header_.erase(header_.begin(), header_.begin() + 4);
                continue;
            }
            if (header_.size() < kHeaderLength)
                break;
            Pdu pdu;
            pdu.type = u16(header_.data());
            pdu.flags = u16(header_.data() + 2);
            pdu.length = u32(header_.data() + 4);
            header_.clear();
            if (pdu.length > maxBody_) {
                pdu.oversized = true;
                skipLeft_ = pdu.length;
                onPdu(pdu);
                continue;
            }
            pdu.body.reserve(std::min<size_t>(pdu.length, size_t(1) << 20));
            current_ = std::move(pdu);
        }
        const size_t want = current_->length - current_->body.size();
        const size_t n = std::min(want, size - at);
        current_->body.insert(current_->body.end(), data + at, data + at + n);
        at += n;
        if (current_->body.size() == current_->length) {
            Pdu done = std::move(*current_);
            current_.reset();
            onPdu(done);
        }
    }
}

std::vector<uint8_t> encodePdu(uint16_t type, uint16_t flags, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> out;
    out.reserve(kHeaderLength + body.size());
    put16(out, type);
    put16(out, flags);
    put32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::optional<uint32_t> parseCapabilities(const std::vector<uint8_t>& body) {
    if (body.size() < 4)
        return std::nullopt;
    const uint16_t sets = u16(body.data());
    size_t at = 4;
    for (uint16_t i = 0; i < sets; ++i) {
        if (body.size() - at < 4)
            return std::nullopt;
        const uint16_t type = u16(body.data() + at);
        const uint16_t length = u16(body.data() + at + 2);
        if (length < 4 || length > body.size() - at)
            return std::nullopt;
        if (type == 1 && length >= 12)
            return u32(body.data() + at + 8);
        at += length;
    }
    return std::nullopt;
}

std::vector<uint8_t> encodeCapabilities(uint32_t generalFlags) {
    std::vector<uint8_t> body;
    put16(body, 1); // one capability set
    put16(body, 0);
    put16(body, 1); // general
    put16(body, 12);
    put32(body, 2); // version 2
    put32(body, generalFlags);
    return body;
}

std::optional<std::vector<ClipFormat>> parseFormatList(const std::vector<uint8_t>& body,
                                                       uint16_t flags, bool longNames) {
    std::vector<ClipFormat> formats;
    const uint8_t* p = body.data();
    const size_t n = body.size();
    if (!longNames) {
        if (n % 36 != 0 || n / 36 > kMaxFormats)
            return std::nullopt;
        for (size_t at = 0; at < n; at += 36) {
            ClipFormat f;
            f.id = u32(p + at);
            const uint8_t* name = p + at + 4;
            if (flags & kAsciiNames)
                f.name.assign(reinterpret_cast<const char*>(name),
                              strnlen(reinterpret_cast<const char*>(name), 32));
            else
                f.name = decodeUtf16(name, 16);
            formats.push_back(std::move(f));
        }
        return formats;
    }
    size_t at = 0;
    while (at < n) {
        if (n - at < 6 || formats.size() >= kMaxFormats)
            return std::nullopt;
        ClipFormat f;
        f.id = u32(p + at);
        at += 4;
        size_t units = 0;
        while (at + 2 * units + 1 < n && u16(p + at + 2 * units) != 0) {
            if (++units > kMaxFormatName)
                return std::nullopt;
        }
        if (at + 2 * units + 1 >= n)
            return std::nullopt; // the name's NUL is missing
        f.name = decodeUtf16(p + at, units);
        at += 2 * (units + 1);
        formats.push_back(std::move(f));
    }
    return formats;
}

std::vector<uint8_t> encodeFormatList(const std::vector<ClipFormat>& formats, bool longNames) {
    std::vector<uint8_t> body;
    for (const auto& f : formats) {
        put32(body, f.id);
        if (longNames) {
            appendUtf16(body, f.name, kMaxFormatName);
            put16(body, 0);
        } else {
            const size_t start = body.size();
            appendUtf16(body, f.name, 15);
            body.resize(start + 32, 0);
        }
    }
    return body;
}

std::optional<std::string> utf16ToUtf8(const uint8_t* data, size_t size) {
    if ((size % 2) != 0 || (size > 0 && !data))
        return std::nullopt;
    return decodeUtf16(data, size / 2);
}

std::vector<uint8_t> utf8ToUtf16(const std::string& text) {
    std::vector<uint8_t> out;
    out.reserve(text.size() * 2 + 2);
    appendUtf16(out, text, SIZE_MAX);
    put16(out, 0);
    return out;
}

} // namespace shadow_ext::cliprdr
