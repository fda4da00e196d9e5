// Cursor forwarding: when it sends, and the pointer message it builds.
#include <cstdlib>
#include <vector>

#include "input_fixture.h"
#include "server/shadow/Mac/input/cursor_forward.h"

using corvane::platform::CursorImage;
using corvane::platform::CursorRepresentation;

namespace {

struct Sent {
    uint32_t width, height, xHot, yHot;
};
std::vector<Sent> gSent;

void captureBroadcast(rdpShadowServer*, SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE* message) {
    gSent.push_back({message->width, message->height, message->xHot, message->yHot});
    message->common.Free(SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE_ID, &message->common);
}

class CursorForward : public input_test::SimRecordTest {
  protected:
    void SetUp() override {
        SimRecordTest::SetUp();
        gSent.clear();
        mac_shadow_cursor_forget_clients();
        mac_shadow_cursor_set_broadcast_for_tests(captureBroadcast);
        record_->knownClients[0] = reinterpret_cast<rdpShadowClient*>(&clientA_);
        record_->knownClientCount = 1;
        show(16, 16, 3, 4);
        sim_->simCursor().setSeed(5);
    }
    // A white cursor of w x h points and pixels.
    void show(int32_t w, int32_t h, double hotX = 0, double hotY = 0) {
        CursorImage image;
        image.pointsWidth = w;
        image.pointsHeight = h;
        image.hotX = hotX;
        image.hotY = hotY;
        CursorRepresentation rep;
        rep.pixelWidth = w;
        rep.pixelHeight = h;
        rep.bgra.assign(size_t(w) * h * 4, 255);
        image.representations.push_back(rep);
        sim_->simCursor().setImage(image);
    }
    void TearDown() override {
        mac_shadow_cursor_set_broadcast_for_tests(nullptr);
        mac_shadow_cursor_forget_clients();
        SimRecordTest::TearDown();
    }
    void turn(uint64_t now, uint32_t size = 32) { mac_shadow_cursor_update(record_, now, size); }
    int clientA_ = 0, clientB_ = 0;
};

std::vector<uint8_t> pixels(int32_t w, int32_t h, std::initializer_list<uint8_t> bgra) {
    std::vector<uint8_t> out;
    for (int32_t i = 0; i < w * h; ++i)
        out.insert(out.end(), bgra);
    return out;
}

} // namespace

TEST_F(CursorForward, SentOnChangesNewClientsAndNewSizeClassesOnly) {
    turn(1000);
    ASSERT_EQ(gSent.size(), 1u);
    EXPECT_EQ(gSent[0].width, 16u);
    EXPECT_EQ(gSent[0].xHot, 3u);
    EXPECT_EQ(gSent[0].yHot, 4u);
    EXPECT_EQ(record_->cursorSeed, 5);
    EXPECT_EQ(record_->cursorSize, 32);
    turn(1100);
    turn(5000);
    EXPECT_EQ(gSent.size(), 1u);
    sim_->simCursor().setSeed(6);
    turn(5100);
    EXPECT_EQ(gSent.size(), 2u);
    // A new client, and a new pointer size class, get it again.
    record_->knownClients[1] = reinterpret_cast<rdpShadowClient*>(&clientB_);
    record_->knownClientCount = 2;
    turn(5200);
    turn(5300);
    EXPECT_EQ(gSent.size(), 3u);
    turn(5400, 96);
    EXPECT_EQ(gSent.size(), 4u);
}

TEST_F(CursorForward, ScaleChangesCountOnlyBeyondOneHundredth) {
    addMapping(0, 0, 100, 100, 0, 0, 1.0);
    turn(1000);
    record_->mappings[0].pointsPerPixel = 1.0 / 1.005;
    turn(1100);
    EXPECT_EQ(gSent.size(), 1u);
    record_->mappings[0].pointsPerPixel = 1.0 / 1.02;
    turn(1200);
    ASSERT_EQ(gSent.size(), 2u);
    EXPECT_NEAR(record_->cursorScale, 1.02, 1e-9);
    EXPECT_EQ(gSent[1].width, 16u); // 16.32 rounds to 16
    record_->mappings[0].pointsPerPixel = 0.5;
    turn(1300);
    ASSERT_EQ(gSent.size(), 3u);
    EXPECT_EQ(gSent[2].width, 32u);
}

TEST_F(CursorForward, UnknownSeedSendsAtMostOncePerSecond) {
    sim_->simCursor().setSeed(-1);
    turn(1000);
    turn(1500);
    turn(1999);
    EXPECT_EQ(gSent.size(), 1u);
    turn(2000);
    EXPECT_EQ(gSent.size(), 2u);
    EXPECT_EQ(record_->nextCursorCheck, 3000u);
}

TEST_F(CursorForward, OnePixelWideCursorIsNeverSent) {
    show(1, 16);
    turn(1000);
    EXPECT_TRUE(gSent.empty());
    EXPECT_EQ(record_->cursorSeed, 5); // remembered: not retried every turn
    turn(1100);
    EXPECT_EQ(sim_->simCursor().imageRequests(), 1);
}

TEST(CursorMessage, AlphaSixtyFourUnpremultipliesAndSetsTheAndBit) {
    const auto image = pixels(2, 1, {32, 32, 32, 64});
    auto* m = mac_shadow_cursor_message(image.data(), 2, 1, 0, 0, 32);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->lengthXorMask, 2u * 4);
    EXPECT_EQ(m->lengthAndMask, 2u) << "AND rows are whole words";
    EXPECT_EQ(m->xorMaskData[0], 128);
    EXPECT_EQ(m->xorMaskData[2], 128);
    EXPECT_EQ(m->xorMaskData[3], 64);
    EXPECT_EQ(m->andMaskData[0], 0xC0);
    m->common.Free(SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE_ID, &m->common);
}

TEST(CursorMessage, RowsRunBottomUpAndClearPixelsAreZeroWithAndBit) {
    // Row 0: opaque red, clear; row 1: opaque blue, half-opaque white.
    const std::vector<uint8_t> image = {0,   0, 255, 255, 0,   0,   0,   0,
                                        255, 0, 0,   255, 128, 128, 128, 128};
    auto* m = mac_shadow_cursor_message(image.data(), 2, 2, 1, 1, 32);
    ASSERT_NE(m, nullptr);
    const BYTE* bottom = m->xorMaskData;  // source row 1
    const BYTE* top = m->xorMaskData + 8; // source row 0
    EXPECT_EQ(bottom[0], 255);
    EXPECT_EQ(bottom[2], 0);
    EXPECT_EQ(bottom[4], 255); // 128 * 255 + 64 over 128
    EXPECT_EQ(bottom[7], 128);
    EXPECT_EQ(top[2], 255);
    for (int i = 4; i < 8; ++i)
        EXPECT_EQ(top[i], 0);
    EXPECT_EQ(m->andMaskData[0], 0x00); // bottom row: both at least half opaque
    EXPECT_EQ(m->andMaskData[2], 0x40); // top row: the clear pixel
    m->common.Free(SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE_ID, &m->common);
}

TEST(CursorMessage, EmptyPicturesGiveNoMessage) {
    const uint8_t px[4] = {};
    EXPECT_EQ(mac_shadow_cursor_message(px, 0, 1, 0, 0, 32), nullptr);
    EXPECT_EQ(mac_shadow_cursor_message(nullptr, 1, 1, 0, 0, 32), nullptr);
    EXPECT_EQ(mac_shadow_cursor_message(px, 1, 1, 0, 0, 16), nullptr);
}

// The packaged library announces 24-bit pointers: the XOR rows must be
// exactly what a client expects for that depth.
TEST(CursorMessage, TwentyFourBitRowsArePaddedToEvenBytes) {
    const auto image = pixels(17, 2, {10, 20, 30, 255});
    auto* m = mac_shadow_cursor_message(image.data(), 17, 2, 0, 0, 24);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->lengthXorMask, 52u * 2); // 51 bytes rounded up to even
    EXPECT_EQ(m->lengthAndMask, 4u * 2);
    EXPECT_EQ(m->xorMaskData[3], 10); // second pixel starts at byte 3
    EXPECT_EQ(m->xorMaskData[5], 30);
    EXPECT_EQ(m->xorMaskData[51], 0); // padding
    m->common.Free(SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE_ID, &m->common);
}

TEST(CursorMessage, TwentyFourBitMaskedPixelsHaveNoColour) {
    const std::vector<uint8_t> image = {32, 32, 32, 64, 64, 64, 64, 128};
    auto* m = mac_shadow_cursor_message(image.data(), 2, 1, 0, 0, 24);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->andMaskData[0], 0x80);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(m->xorMaskData[i], 0) << "masked pixel would invert the screen";
    EXPECT_EQ(m->xorMaskData[3], 128); // 64 * 255 + 64 over 128
    m->common.Free(SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE_ID, &m->common);
}
