// Frames reaching the surface and being published.
#include <vector>

#include <gtest/gtest.h>

#include "server/core/core_fixture.h"
#include "server/shadow/Mac/loop/frame_rate.h"
#include "server/shadow/Mac/loop/frames.h"
#include "server/shadow/Mac/loop/thread.h"

namespace {

struct Frame {
    Frame(int w, int h, uint32_t colour) : width(w), height(h), pixels(size_t(w) * h, colour) {}
    void deliver(macShadowSubsystem* r, int ox, int oy, std::vector<int32_t> rects = {}) {
        mac_shadow_frame_callback(r, ox, oy, reinterpret_cast<const uint8_t*>(pixels.data()),
                                  width * 4, width, height, rects.empty() ? nullptr : rects.data(),
                                  static_cast<int32_t>(rects.size() / 4));
    }
    int width, height;
    std::vector<uint32_t> pixels;
};

constexpr uint32_t kRed = 0xFFFF0000;

} // namespace

class FrameIntake : public CoreTest {};

TEST_F(FrameIntake, WithoutClientsNothingIsPublishedAndTheRegionEmpties) {
    Frame(1280, 800, kRed).deliver(record(), 0, 0);
    EXPECT_EQ(pixel(640, 400) & 0xFFFFFF, kRed & 0xFFFFFF) << "the whole frame is copied";
    EXPECT_TRUE(record()->pictureCaptured);
    EXPECT_EQ(publications(), 0);
    EXPECT_TRUE(regionEmpty());
}

// Rectangles are clipped to the frame and frames to the surface; a frame
// beyond the surface is dropped without harm.
TEST_F(FrameIntake, RectanglesAreClippedToTheFrameAndFramesToTheSurface) {
    addClient();
    Frame(1280, 800, kRed).deliver(record(), 0, 0, {-10, 5, 20, 4});
    EXPECT_EQ(pixel(9, 6) & 0xFFFFFF, kRed & 0xFFFFFF);
    EXPECT_EQ(pixel(10, 6), 0u) << "only x 0 to 10 is inside the frame";
    EXPECT_EQ(pixel(5, 9), 0u);
    EXPECT_EQ(publications(), 1);
    EXPECT_TRUE(regionEmpty()) << "a publication clears the region";
    Frame(1920, 100, kRed).deliver(record(), 1000, 0, {0, 0, 1920, 100});
    EXPECT_EQ(pixel(1279, 50) & 0xFFFFFF, kRed & 0xFFFFFF);
    EXPECT_EQ(pixel(999, 50), 0u);
    Frame(100, 100, kRed).deliver(record(), 1280, 0);
    EXPECT_EQ(publications(), 2);
}

TEST_F(FrameIntake, FramesReceivedLineForTheFirstAndEveryThreeHundredth) {
    Frame f(64, 64, kRed);
    for (int i = 0; i < 600; ++i)
        f.deliver(record(), 0, 0);
    EXPECT_EQ(LogLines::count("capture: 1 frames received (64x64 at 0,0)"), 1u);
    EXPECT_EQ(LogLines::count("capture: 300 frames received"), 1u);
    EXPECT_EQ(LogLines::count("capture: 600 frames received"), 1u);
    EXPECT_EQ(LogLines::count("frames received"), 3u);
    EXPECT_EQ(record()->framesReceived, 600u);
}

TEST_F(FrameIntake, ConnectingClientHoldsFramesBackUntilTheNextPublication) {
    addClient();
    record()->connectingCount = 1;
    Frame(1280, 800, kRed).deliver(record(), 0, 0, {0, 0, 10, 10});
    Frame(1280, 800, kRed).deliver(record(), 0, 0, {100, 100, 10, 10});
    EXPECT_EQ(publications(), 0);
    EXPECT_FALSE(regionEmpty()) << "held frames stay in the region";
    record()->connectingCount = 0;
    Frame(1280, 800, kRed).deliver(record(), 0, 0, {200, 200, 10, 10});
    EXPECT_EQ(publications(), 1);
    EXPECT_TRUE(regionEmpty());
    EXPECT_EQ(record()->publishingCount.load(), 0);
}

TEST_F(FrameIntake, SingleClientPacesTheThreadByItsEncoder) {
    addClient();
    setPreferredFps(25);
    Frame(64, 64, kRed).deliver(record(), 0, 0);
    EXPECT_EQ(mac_shadow_frame_rate(&record()->common.base), 25u);
    addClient();
    setPreferredFps(12);
    Frame(64, 64, kRed).deliver(record(), 0, 0);
    EXPECT_EQ(mac_shadow_frame_rate(&record()->common.base), 25u)
        << "two clients leave it as it was";
}

TEST_F(FrameIntake, StatisticsLineEveryFiveSeconds) {
    addClient();
    Frame f(64, 64, kRed);
    for (int i = 0; i < 60; ++i) {
        f.deliver(record(), 0, 0);
        advance(100);
    }
    EXPECT_EQ(LogLines::count("fps from ScreenCaptureKit"), 1u);
}

// A repaint sends the whole surface, but only with clients and once a
// picture was captured at this size (the skip is logged at most every 10 s).
TEST_F(FrameIntake, RepaintSendsTheWholeSurfaceOnceThereIsAPicture) {
    addClient();
    mac_shadow_push_last_frame(record());
    mac_shadow_push_last_frame(record());
    advance(9000);
    mac_shadow_push_last_frame(record());
    EXPECT_EQ(LogLines::count("repaint skipped: no picture captured at this size yet"), 1u);
    advance(1000);
    mac_shadow_push_last_frame(record());
    EXPECT_EQ(LogLines::count("repaint skipped"), 2u);
    EXPECT_EQ(publications(), 0);
    record()->pictureCaptured = true;
    mac_shadow_push_last_frame(record());
    EXPECT_EQ(publications(), 1);
    removeClients();
    mac_shadow_push_last_frame(record());
    EXPECT_EQ(publications(), 1) << "no repaint without clients";
}

class AdaptiveRate : public CoreTest {
  protected:
    void SetUp() override {
        CoreTest::SetUp();
        record()->fps = 60;
        record()->captureFps = 60;
        addClient();
        mac_shadow_adaptive_handover(record(), 1);
    }
    void frameChanging(double share) {
        const int h = static_cast<int>(800 * share);
        Frame(1280, 800, kRed).deliver(record(), 0, 0, {0, 0, 1280, h < 1 ? 1 : h});
    }
};

TEST_F(AdaptiveRate, FirstActiveClientStartsAtTheConfiguredRate) {
    EXPECT_EQ(record()->targetFps, 60);
    EXPECT_DOUBLE_EQ(record()->changeAverage, 0.5);
    mac_shadow_adaptive_handover(record(), 0);
    EXPECT_EQ(record()->targetFps, 2);
    EXPECT_EQ(record()->activeClientsSeen, 0);
}

TEST_F(AdaptiveRate, LowersOnlyAfterOneAndAHalfSecondsAndRisesAtOnce) {
    frameChanging(0.3);
    EXPECT_EQ(record()->targetFps, 60);
    uint64_t firstLowWish = 0;
    for (int i = 0; i < 40 && record()->targetFps == 60; ++i) {
        advance(100);
        frameChanging(0.0001);
        if (record()->lowerSince && !firstLowWish)
            firstLowWish = now();
    }
    ASSERT_NE(firstLowWish, 0u);
    EXPECT_GE(now() - firstLowWish, 1500u) << "the lower rate waited 1.5 s";
    EXPECT_EQ(record()->targetFps, 20);
    EXPECT_EQ(record()->captureFps, 20);
    advance(100);
    frameChanging(1.0);
    EXPECT_EQ(record()->targetFps, 60) << "a full-screen change raises the rate at once";
}

TEST(FrameRateRules, WantedRateFollowsTheAverage) {
    FrameRateState s;
    s.fps = 25;
    s.changeAverage = 0.05 / 0.7; // after a frame with no change: 0.05
    EXPECT_EQ(mac_shadow_wanted_fps(s, 0.0), 25);
    s.fps = 60;
    s.changeAverage = 0.0;
    EXPECT_EQ(mac_shadow_wanted_fps(s, 0.0), 20);
    EXPECT_EQ(mac_shadow_wanted_fps(s, 0.3), 60);
    EXPECT_DOUBLE_EQ(s.changeAverage, 0.1) << "a big change lifts the average to 0.1";
}

TEST(FrameRateRules, ChangedShareClipsAndCaps) {
    const int32_t half[] = {0, 0, 50, 100};
    EXPECT_DOUBLE_EQ(mac_shadow_changed_share(half, 1, 100, 100), 0.5);
    const int32_t outside[] = {-50, 0, 100, 100, 0, 0, 0, 5};
    EXPECT_DOUBLE_EQ(mac_shadow_changed_share(outside, 2, 100, 100), 0.5);
    const int32_t twice[] = {0, 0, 100, 100, 0, 0, 100, 100};
    EXPECT_DOUBLE_EQ(mac_shadow_changed_share(twice, 2, 100, 100), 1.0);
    EXPECT_DOUBLE_EQ(mac_shadow_changed_share(nullptr, 0, 100, 100), 1.0);
}
