#include "gnome_clipboard_mime.h"

#include <algorithm>
#include <cctype>

namespace corvane::platform::gnome {

namespace {

struct MimeRank {
    std::string_view mime; // lower case, no spaces
    GnomeMimeMeaning meaning;
};

// Best first within each type: a reader takes the first one announced.
// "text/plain" names no charset; Wayland programs send UTF-8 under it, and
// so do we. TEXT lets the owner choose, which the X bridge answers in UTF-8.
constexpr MimeRank kRanks[] = {
    {"text/plain;charset=utf-8", {PasteboardType::Text, GnomeTextEncoding::Utf8}},
    {"utf8_string", {PasteboardType::Text, GnomeTextEncoding::Utf8}},
    {"text/plain", {PasteboardType::Text, GnomeTextEncoding::Utf8}},
    {"string", {PasteboardType::Text, GnomeTextEncoding::Latin1}},
    {"text", {PasteboardType::Text, GnomeTextEncoding::Utf8}},
    {"image/png", {PasteboardType::Png, GnomeTextEncoding::Utf8}},
    {"image/tiff", {PasteboardType::Tiff, GnomeTextEncoding::Utf8}},
};

// Lower case without blanks: "Text/Plain; charset=UTF-8" and
// "text/plain;charset=utf-8" are the same type.
std::string normalized(std::string_view mime) {
    std::string out;
    out.reserve(mime.size());
    for (char c : mime)
        if (c != ' ' && c != '\t')
            out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return out;
}

// The rank of a MIME type in kRanks, or the table's size for none.
size_t rankOf(std::string_view mime) {
    const std::string key = normalized(mime);
    // Quoted charsets ("utf-8" in quotes) are allowed by the MIME syntax.
    std::string unquoted = key;
    std::erase(unquoted, '"');
    for (size_t i = 0; i < std::size(kRanks); ++i)
        if (kRanks[i].mime == unquoted)
            return i;
    return std::size(kRanks);
}

} // namespace

std::optional<GnomeMimeMeaning> gnomeMimeMeaning(std::string_view mime) {
    const size_t rank = rankOf(mime);
    if (rank == std::size(kRanks))
        return std::nullopt;
    return kRanks[rank].meaning;
}

uint32_t gnomePasteboardTypes(const std::vector<std::string>& mimes) {
    uint32_t mask = 0;
    for (const auto& mime : mimes)
        if (auto meaning = gnomeMimeMeaning(mime))
            mask |= static_cast<uint32_t>(meaning->type);
    return mask;
}

std::optional<std::string> gnomeMimeToRead(const std::vector<std::string>& mimes,
                                           PasteboardType type) {
    size_t bestRank = std::size(kRanks);
    const std::string* best = nullptr;
    for (const auto& mime : mimes) {
        const size_t rank = rankOf(mime);
        if (rank < bestRank && kRanks[rank].meaning.type == type) {
            bestRank = rank;
            best = &mime;
        }
    }
    if (!best)
        return std::nullopt;
    return *best;
}

std::vector<std::string> gnomeMimesToOffer(PasteboardType type) {
    switch (type) {
    case PasteboardType::Text:
        // Only UTF-8 names: what we hold is UTF-8, and a program asking for
        // STRING can still take one of these.
        return {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain"};
    case PasteboardType::Png:
        return {"image/png"};
    case PasteboardType::Tiff:
        return {"image/tiff"};
    }
    return {};
}

std::vector<uint8_t> gnomeUtf8FromLatin1(const std::vector<uint8_t>& latin1) {
    std::vector<uint8_t> out;
    out.reserve(latin1.size());
    for (uint8_t b : latin1) {
        if (b < 0x80) {
            out.push_back(b);
        } else {
            out.push_back(static_cast<uint8_t>(0xC0 | (b >> 6)));
            out.push_back(static_cast<uint8_t>(0x80 | (b & 0x3F)));
        }
    }
    return out;
}

} // namespace corvane::platform::gnome
