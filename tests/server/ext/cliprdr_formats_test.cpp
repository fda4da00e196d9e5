// The clipboard channel's wire formats: what clients send is parsed or
// refused, never read past its end.
#include <gtest/gtest.h>

#include <cstring>

#include "server/shadow/ext/cliprdr_formats.h"

using namespace shadow_ext::cliprdr;
using Bytes = std::vector<uint8_t>;

namespace {

void put16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(Bytes& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// An info header of 40 bytes with the given fields.
Bytes dibHeader(int32_t w, int32_t h, uint16_t bits, uint32_t compression, uint32_t size = 40,
                uint32_t colours = 0) {
    Bytes b;
    put32(b, size);
    put32(b, uint32_t(w));
    put32(b, uint32_t(h));
    put16(b, 1);
    put16(b, bits);
    put32(b, compression);
    put32(b, 0);
    put32(b, 0);
    put32(b, 0);
    put32(b, colours);
    put32(b, 0);
    return b;
}

} // namespace

TEST(CliprdrDib, BottomUp24BitRowsWithPaddingComeOutTopDownAndOpaque) {
    Bytes dib = dibHeader(2, 2, 24, 0);
    // Bottom row first: blue, green; then the top row: red, white. Rows are
    // padded to 8 bytes.
    const uint8_t rows[] = {255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 255, 255, 255, 255, 0, 0};
    dib.insert(dib.end(), rows, rows + sizeof rows);
    auto p = parseDib(dib.data(), dib.size());
    ASSERT_TRUE(p);
    EXPECT_EQ(p->width, 2u);
    EXPECT_EQ(p->height, 2u);
    const Bytes want = {0, 0, 255, 255, 255, 255, 255, 255, 255, 0, 0, 255, 0, 255, 0, 255};
    EXPECT_EQ(p->bgra, want);
}

TEST(CliprdrDib, TopDownBitfieldsWithAlphaMaskKeepAlpha) {
    Bytes dib = dibHeader(1, -1, 32, 3, 56);
    put32(dib, 0x0000FF00); // red mask
    put32(dib, 0x00FF0000); // green
    put32(dib, 0xFF000000); // blue
    put32(dib, 0x000000FF); // alpha
    put32(dib, 0x11223344); // blue 0x11, green 0x22, red 0x33, alpha 0x44
    auto p = parseDib(dib.data(), dib.size());
    ASSERT_TRUE(p);
    EXPECT_EQ(p->bgra, (Bytes{0x11, 0x22, 0x33, 0x44}));
}

TEST(CliprdrDib, EncodedPictureParsesBackUnchanged) {
    corvane::capture::Picture pic{3, 2, {}};
    for (int i = 0; i < 6; ++i)
        pic.bgra.insert(pic.bgra.end(), {uint8_t(i), uint8_t(10 * i), uint8_t(20 * i), 255});
    Bytes dib = encodeDib(pic);
    auto back = parseDib(dib.data(), dib.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->bgra, pic.bgra);
}

TEST(CliprdrDib, MalformedOrOversizedInputIsRefused) {
    struct Case {
        const char* what;
        Bytes dib;
    };
    Bytes masksMissing = dibHeader(1, 1, 32, 3);
    Bytes badMask = dibHeader(1, 1, 32, 3);
    for (uint32_t m : {0x00FF0000u, 0x0000FF00u, 0x000000F0u})
        put32(badMask, m);
    badMask.resize(badMask.size() + 4);
    Bytes truncated = dibHeader(4, 4, 32, 0);
    truncated.resize(truncated.size() + 4 * 4 * 4 - 1);
    Bytes tableTooLong = dibHeader(1, 1, 24, 0, 40, 257);
    tableTooLong.resize(tableTooLong.size() + 257 * 4 + 4);
    // Enough for a row, not for the whole.
    const auto aRow = [](Bytes b) { return b.resize(b.size() + 4 * 9000), b; };
    const std::vector<Case> cases = {
        {"shorter than a header", Bytes(39, 0)},
        {"header size beyond the data", dibHeader(1, 1, 32, 0, 400)},
        {"header size too small", dibHeader(1, 1, 32, 0, 12)},
        {"zero width", dibHeader(0, 1, 32, 0)},
        {"negative width", dibHeader(-4, 1, 32, 0)},
        {"zero height", dibHeader(1, 0, 32, 0)},
        {"most negative height", dibHeader(1, INT32_MIN, 32, 0)},
        {"16 bits", dibHeader(1, 1, 16, 0)},
        {"run-length compressed", dibHeader(1, 1, 24, 1)},
        {"bit fields without masks", masksMissing},
        {"a mask of four bits", badMask},
        {"pixels cut short", truncated},
        {"colour table too long", tableTooLong},
        {"9000 pixels wide", aRow(dibHeader(9000, 1, 32, 0))},
        {"more than 16 mebipixels", aRow(dibHeader(8192, 2049, 32, 0))},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(parseDib(c.dib.data(), c.dib.size())) << c.what;
}

TEST(CliprdrFormatList, LongNamesParseAndRoundTrip) {
    const std::vector<ClipFormat> formats = {{13, ""}, {0xC004, "PNG"}, {0xC010, "Über"}};
    Bytes body = encodeFormatList(formats, true);
    EXPECT_EQ(parseFormatList(body, 0, true), formats);
    Bytes shortBody = encodeFormatList({{8, ""}, {0xC001, "image/png"}}, false);
    EXPECT_EQ(shortBody.size(), 72u);
    EXPECT_EQ(parseFormatList(shortBody, 0, false),
              (std::vector<ClipFormat>{{8, ""}, {0xC001, "image/png"}}));
}

TEST(CliprdrFormatList, MalformedOrOversizedListsAreRefused) {
    Bytes noTerminator;
    put32(noTerminator, 13);
    put16(noTerminator, 'A');
    put16(noTerminator, 'B');
    Bytes tooMany;
    for (int i = 0; i < 257; ++i) {
        put32(tooMany, 0xC000 + i);
        put16(tooMany, 0);
    }
    Bytes longName;
    put32(longName, 0xC000);
    for (int i = 0; i < 300; ++i)
        put16(longName, 'x');
    put16(longName, 0);
    Bytes oddShort(37, 0);
    EXPECT_FALSE(parseFormatList(noTerminator, 0, true));
    EXPECT_FALSE(parseFormatList(Bytes{1, 2, 3}, 0, true));
    EXPECT_FALSE(parseFormatList(tooMany, 0, true));
    EXPECT_FALSE(parseFormatList(longName, 0, true));
    EXPECT_FALSE(parseFormatList(oddShort, 0, false));
    EXPECT_EQ(parseFormatList({}, 0, true), std::vector<ClipFormat>{});
}

TEST(CliprdrText, Utf16DecodesPairsCutsAtNulAndRefusesOddLengths) {
    const std::string text = "Grüße 😀 東京";
    Bytes wire = utf8ToUtf16(text);
    EXPECT_EQ(wire.size() % 2, 0u);
    EXPECT_EQ(utf16ToUtf8(wire.data(), wire.size()), text);
    Bytes cut = utf8ToUtf16("ab");
    cut.pop_back();
    cut.pop_back();
    put16(cut, 0);
    put16(cut, 'z');
    EXPECT_EQ(utf16ToUtf8(cut.data(), cut.size()), "ab");
    Bytes lone;
    put16(lone, 0xD800);
    put16(lone, 'q');
    EXPECT_EQ(utf16ToUtf8(lone.data(), lone.size()), "\xEF\xBF\xBDq");
    EXPECT_FALSE(utf16ToUtf8(wire.data(), 3));
}

TEST(CliprdrPduReader, SplitsChunksSkipsOversizedBodiesAndPadding) {
    PduReader reader(16);
    std::vector<Pdu> seen;
    auto collect = [&](const Pdu& p) { seen.push_back(p); };
    Bytes stream = encodePdu(kFormatDataRequest, 0, {13, 0, 0, 0});
    stream.insert(stream.end(), 4, 0); // padding some clients add
    Bytes big = encodePdu(kFormatList, 0, Bytes(40, 7));
    stream.insert(stream.end(), big.begin(), big.end());
    Bytes last = encodePdu(kFormatListResponse, kResponseOk, {});
    stream.insert(stream.end(), last.begin(), last.end());
    for (size_t i = 0; i < stream.size(); i += 3)
        reader.feed(stream.data() + i, std::min<size_t>(3, stream.size() - i), collect);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].type, kFormatDataRequest);
    EXPECT_EQ(seen[0].body, (Bytes{13, 0, 0, 0}));
    EXPECT_TRUE(seen[1].oversized);
    EXPECT_EQ(seen[1].length, 40u);
    EXPECT_TRUE(seen[1].body.empty());
    EXPECT_EQ(seen[2].type, kFormatListResponse);
    EXPECT_EQ(seen[2].flags, kResponseOk);
}

TEST(CliprdrCapabilities, GeneralFlagsFoundOrRefused) {
    EXPECT_EQ(parseCapabilities(encodeCapabilities(kUseLongFormatNames)), kUseLongFormatNames);
    Bytes lying = encodeCapabilities(2);
    lying[6] = 200; // a set longer than the PDU
    EXPECT_FALSE(parseCapabilities(lying));
    EXPECT_FALSE(parseCapabilities({1, 0}));
}
