// The remote-desktop clipboard's MIME types.
#include <gtest/gtest.h>

#include "platform/gnome/gnome_clipboard_mime.h"

using namespace corvane::platform;
using namespace corvane::platform::gnome;

namespace {
constexpr uint32_t kText = static_cast<uint32_t>(PasteboardType::Text);
constexpr uint32_t kPng = static_cast<uint32_t>(PasteboardType::Png);
constexpr uint32_t kTiff = static_cast<uint32_t>(PasteboardType::Tiff);
} // namespace

TEST(GnomeClipboardMime, EachMimeTypeCarriesOneTypeAndEncoding) {
    using M = std::optional<GnomeMimeMeaning>;
    const M utf8 = GnomeMimeMeaning{PasteboardType::Text, GnomeTextEncoding::Utf8};
    const M latin1 = GnomeMimeMeaning{PasteboardType::Text, GnomeTextEncoding::Latin1};
    const M png = GnomeMimeMeaning{PasteboardType::Png, GnomeTextEncoding::Utf8};
    const M tiff = GnomeMimeMeaning{PasteboardType::Tiff, GnomeTextEncoding::Utf8};
    const struct {
        const char* mime;
        M meaning;
    } cases[] = {
        {"text/plain;charset=utf-8", utf8},
        {"text/plain;charset=UTF-8", utf8},
        {"text/plain; charset=utf-8", utf8},
        {"text/plain;charset=\"utf-8\"", utf8},
        {"UTF8_STRING", utf8},
        {"text/plain", utf8},
        {"TEXT", utf8},
        {"STRING", latin1},
        {"image/png", png},
        {"IMAGE/PNG", png},
        {"image/tiff", tiff},
        {"text/plain;charset=iso-8859-1", std::nullopt},
        {"text/html", std::nullopt},
        {"text/uri-list", std::nullopt},
        {"image/jpeg", std::nullopt},
        {"image/png2", std::nullopt},
        {"", std::nullopt},
        {"SAVE_TARGETS", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(gnomeMimeMeaning(c.mime), c.meaning) << c.mime;
}

TEST(GnomeClipboardMime, AnnouncedListsBecomeTypeMasks) {
    using L = std::vector<std::string>;
    const struct {
        L mimes;
        uint32_t mask;
    } cases[] = {
        {L{}, 0},
        {L{"text/html", "text/uri-list"}, 0},
        {L{"text/plain;charset=utf-8", "UTF8_STRING", "STRING"}, kText},
        {L{"image/png"}, kPng},
        {L{"image/tiff", "image/png", "text/plain"}, kText | kPng | kTiff},
        {L{"image/bmp", "image/png"}, kPng},
    };
    for (const auto& c : cases)
        EXPECT_EQ(gnomePasteboardTypes(c.mimes), c.mask) << c.mimes.size() << " types";
}

TEST(GnomeClipboardMime, TheBestAnnouncedTypeIsReadAsAnnounced) {
    using L = std::vector<std::string>;
    const struct {
        L mimes;
        PasteboardType type;
        std::optional<std::string> read;
        const char* what;
    } cases[] = {
        {L{"STRING", "text/plain", "text/plain;charset=utf-8", "UTF8_STRING"}, PasteboardType::Text,
         "text/plain;charset=utf-8", "UTF-8 with its charset first, wherever it is listed"},
        {L{"STRING", "text/plain", "UTF8_STRING"}, PasteboardType::Text, "UTF8_STRING",
         "the X name of UTF-8 next"},
        {L{"TEXT", "STRING", "text/plain"}, PasteboardType::Text, "text/plain",
         "plain text before Latin-1"},
        {L{"TEXT", "STRING"}, PasteboardType::Text, "STRING", "Latin-1 before TEXT"},
        {L{"TEXT"}, PasteboardType::Text, "TEXT", "TEXT as the last resort"},
        {L{"Text/Plain;Charset=UTF-8"}, PasteboardType::Text, "Text/Plain;Charset=UTF-8",
         "read under the name the owner announced"},
        {L{"image/png", "text/plain"}, PasteboardType::Png, "image/png", "a picture"},
        {L{"image/png"}, PasteboardType::Tiff, std::nullopt, "TIFF is not PNG"},
        {L{"text/html"}, PasteboardType::Text, std::nullopt, "HTML is not plain text"},
        {L{}, PasteboardType::Text, std::nullopt, "nothing announced"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(gnomeMimeToRead(c.mimes, c.type), c.read) << c.what;
}

// What we announce must read back as the type we hold, in UTF-8.
TEST(GnomeClipboardMime, OfferedTypesReadBackAsTheTypeSet) {
    for (PasteboardType type : {PasteboardType::Text, PasteboardType::Png, PasteboardType::Tiff}) {
        const auto offered = gnomeMimesToOffer(type);
        ASSERT_FALSE(offered.empty());
        EXPECT_EQ(gnomePasteboardTypes(offered), static_cast<uint32_t>(type));
        for (const auto& mime : offered)
            EXPECT_EQ(gnomeMimeMeaning(mime)->encoding, GnomeTextEncoding::Utf8) << mime;
        EXPECT_EQ(gnomeMimeToRead(offered, type), offered.front());
    }
}

TEST(GnomeClipboardMime, Latin1BecomesUtf8) {
    using B = std::vector<uint8_t>;
    EXPECT_EQ(gnomeUtf8FromLatin1(B{}), B{});
    EXPECT_EQ(gnomeUtf8FromLatin1(B{'a', 'Z', 0x7F}), (B{'a', 'Z', 0x7F}));
    EXPECT_EQ(gnomeUtf8FromLatin1(B{0xE9}), (B{0xC3, 0xA9}));
    EXPECT_EQ(gnomeUtf8FromLatin1(B{0x80, 0xFF, 'x'}), (B{0xC2, 0x80, 0xC3, 0xBF, 'x'}));
}
