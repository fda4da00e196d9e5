// The clipboard functions of the bridge over the sim pasteboard: limits,
// transparency, the availability mask, text cut at a NUL, PNG before TIFF.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "capture/clipboard_image.h"
#include "capture/mac_capture.h"
#include "e2e/harness/e2e_harness.h"
#include "platform/sim/sim_platform.h"
#include "server/core/sim_fixture.h"

using corvane::platform::PasteboardType;
using Bytes = std::vector<uint8_t>;

namespace {

// A picture made by ImageMagick (`args`, written as `format`): its file's bytes.
Bytes picture(const std::vector<std::string>& args, const std::string& format) {
    e2e::TempDir dir;
    EXPECT_TRUE(e2e::makePicture(args, format + ":" + dir.file("picture")));
    const std::string bytes = e2e::readFile(dir.file("picture"));
    return Bytes(bytes.begin(), bytes.end());
}

struct Got {
    int32_t result;
    Bytes bgra;
    uint32_t w, h;
};

Got getImage() {
    uint8_t* pixels = nullptr;
    uint32_t w = 77, h = 77;
    Got g{mac_clipboard_get_image(&pixels, &w, &h), {}, w, h};
    if (pixels) {
        g.bgra.assign(pixels, pixels + size_t(w) * h * 4);
        std::free(pixels);
    }
    return g;
}

class BridgeClipboardTest : public SimPlatformTest {
  protected:
    corvane::platform::sim::SimPasteboard& board() { return sim().simPasteboard(); }
};

} // namespace

TEST_F(BridgeClipboardTest, PictureSizeLimitsBothWays) {
    struct Case {
        uint32_t w, h;
        bool allowed;
    };
    for (const Case& c : {Case{8192, 2048, true}, Case{8192, 2049, false}, Case{8193, 1, false},
                          Case{0, 5, false}, Case{5, 0, false}, Case{1, 8192, true}})
        EXPECT_EQ(corvane::capture::pictureSizeAllowed(c.w, c.h), c.allowed) << c.w << "x" << c.h;
    // A refused picture never reaches the pasteboard; an allowed one does.
    Bytes pixels(size_t(8192) * 2049 * 4, 0xFF);
    const int before = board().writes();
    EXPECT_EQ(mac_clipboard_set_image(pixels.data(), 8192, 2049), 0);
    EXPECT_EQ(mac_clipboard_set_image(pixels.data(), 8193, 1), 0);
    EXPECT_EQ(board().writes(), before);
    EXPECT_EQ(mac_clipboard_set_image(pixels.data(), 1, 8192), 1);
    EXPECT_EQ(board().writes(), before + 1);
    EXPECT_EQ(mac_clipboard_set_image(nullptr, 1, 1), 0);
    // Reading: a PNG one pixel too wide is not handed out, out values untouched.
    board().putFromDesktop(
        {{PasteboardType::Png, picture({"-size", "8193x1", "xc:black"}, "PNG")}});
    Got g = getImage();
    EXPECT_EQ(g.result, 0);
    EXPECT_EQ(g.w, 77u);
}

TEST_F(BridgeClipboardTest, HalfTransparentRedBecomesOpaquePinkAndPngRoundTrips) {
    const Bytes red = {0, 0, 255, 128}; // B, G, R, A
    ASSERT_EQ(mac_clipboard_set_image(red.data(), 1, 1), 1);
    auto stored = board().read(PasteboardType::Png);
    ASSERT_TRUE(stored);
    EXPECT_EQ(std::memcmp(stored->data() + 1, "PNG", 3), 0);
    Got g = getImage();
    ASSERT_EQ(g.result, 1);
    EXPECT_EQ(g.bgra, (Bytes{127, 127, 255, 255}));
    // Opaque pixels come back exactly.
    const Bytes opaque = {1, 2, 3, 255, 200, 100, 50, 255};
    ASSERT_EQ(mac_clipboard_set_image(opaque.data(), 2, 1), 1);
    EXPECT_EQ(getImage().bgra, opaque);
}

TEST_F(BridgeClipboardTest, AvailabilityMaskAndPngReadBeforeTiff) {
    const Bytes bluePng = picture({"-size", "1x1", "xc:#0000ff"}, "PNG");
    const Bytes greenTiff = picture({"-size", "1x1", "xc:#00ff00", "-depth", "8"}, "TIFF");
    board().putFromDesktop({{PasteboardType::Text, {'a'}}, {PasteboardType::Png, bluePng}});
    EXPECT_EQ(mac_clipboard_available(), 3u);
    board().putFromDesktop({{PasteboardType::Tiff, greenTiff}});
    EXPECT_EQ(mac_clipboard_available(), 2u);
    EXPECT_EQ(getImage().bgra, (Bytes{0, 255, 0, 255})) << "TIFF alone is read";
    board().putFromDesktop({{PasteboardType::Png, bluePng}, {PasteboardType::Tiff, greenTiff}});
    EXPECT_EQ(getImage().bgra, (Bytes{255, 0, 0, 255})) << "PNG is preferred";
    board().putFromDesktop({});
    EXPECT_EQ(mac_clipboard_available(), 0u);
    EXPECT_EQ(getImage().result, 0);
    board().putFromDesktop({{PasteboardType::Png, {1, 2, 3}}});
    EXPECT_EQ(getImage().result, 0) << "undecodable data";
}

TEST_F(BridgeClipboardTest, TextIsCutAtItsFirstNulAndBrokenUtf8Replaced) {
    board().putFromDesktop({{PasteboardType::Text, {'a', 'b', 0, 'c'}}});
    char* text = nullptr;
    ASSERT_EQ(mac_clipboard_get(&text), 1);
    EXPECT_STREQ(text, "ab");
    std::free(text);
    board().putFromDesktop({{PasteboardType::Text, {'x', 0xFF, 'y'}}});
    ASSERT_EQ(mac_clipboard_get(&text), 1);
    EXPECT_STREQ(text, "x\xEF\xBF\xBDy");
    std::free(text);
    EXPECT_EQ(mac_clipboard_get(nullptr), 0);
    board().putFromDesktop({});
    EXPECT_EQ(mac_clipboard_get(&text), 0);

    const int64_t before = mac_clipboard_change_count();
    ASSERT_EQ(mac_clipboard_set("Grüße"), 1);
    EXPECT_EQ(mac_clipboard_change_count(), before + 1);
    EXPECT_EQ(board().read(PasteboardType::Text), (Bytes{'G', 'r', 0xC3, 0xBC, 0xC3, 0x9F, 'e'}));
    EXPECT_EQ(mac_clipboard_set(nullptr), 0);
    board().setRefuseWrites(true);
    EXPECT_EQ(mac_clipboard_set("x"), 0);
}
