// Frames on their way to the core: change-list rounding and cap, complete
// frames only, origins, and one serial delivery thread per stream.
#include "bridge_fixture.h"

#include "capture/capture_rects.h"

namespace corvane::capture::testing {
namespace {

using platform::DirtyRect;
using platform::FrameStatus;

TEST(ChangeList, MoreThanSixtyFourRectanglesGiveNone) {
    std::vector<DirtyRect> many(65, DirtyRect{1, 1, 2, 2});
    EXPECT_TRUE(roundDirtyRects(many, 100, 100).empty());
    many.pop_back();
    EXPECT_EQ(roundDirtyRects(many, 100, 100).size(), 64u * 4);
}

TEST(ChangeList, RectanglesAreClippedToTheFrame) {
    EXPECT_EQ(roundDirtyRects({{-5.5, 90, 20, 20}, {200, 0, 5, 5}, {0, 0, -3, 4}}, 100, 100),
              (std::vector<int32_t>{0, 90, 16, 10}));
}

class Delivery : public BridgeTest {};

TEST_F(Delivery, FrameArrivesWithOriginPixelsAndRoundedRectangles) {
    Receiver receiver;
    ASSERT_EQ(mac_capture_add(7, 64, 32, 0, 0, 64, 32, 1440, 16, &Receiver::callback, &receiver),
              0);
    ASSERT_TRUE(stream(0)->pushFrame(solidFrame(64, 32, 0xff112233, {{10.7, 3.2, 49.5, 0.4}})));
    ASSERT_TRUE(receiver.waitFor(1));
    const ReceivedFrame f = receiver.snapshot()[0];
    EXPECT_EQ(f.user, &receiver);
    EXPECT_EQ(std::vector<intptr_t>({f.originX, f.originY, f.width, f.height, f.stride}),
              std::vector<intptr_t>({1440, 16, 64, 32, 256}));
    EXPECT_EQ(f.firstPixel, 0xff112233u);
    EXPECT_EQ(f.rects, (std::vector<int32_t>{10, 3, 50, 1})) << "rounded outward";
}

TEST_F(Delivery, OnlyCompleteFramesWithAnImageArrive) {
    Receiver receiver;
    ASSERT_EQ(addMain(&receiver), 0);
    for (FrameStatus status : {FrameStatus::Idle, FrameStatus::Blank, FrameStatus::Suspended,
                               FrameStatus::Started, FrameStatus::Stopped}) {
        SimFrame frame = solidFrame(64, 32, 2);
        frame.status = status;
        ASSERT_TRUE(stream(0)->pushFrame(frame));
    }
    SimFrame noImage = solidFrame(64, 32, 3);
    noImage.pixels.clear();
    ASSERT_TRUE(stream(0)->pushFrame(noImage));
    ASSERT_TRUE(stream(0)->pushFrame(solidFrame(64, 32, 4)));
    ASSERT_TRUE(receiver.waitFor(1));
    // Dropped frames are released at once, the delivered one after its call.
    EXPECT_EQ(receiver.snapshot().size(), 1u);
    EXPECT_EQ(receiver.snapshot()[0].firstPixel, 4u);
}

// A record may only go once no callback runs (a stream's close may give up
// on one): the wait sees a callback that is running.
TEST_F(Delivery, WaitIdleReturnsOnlyOnceTheRunningCallbackReturned) {
    static std::atomic<bool> inside{false}, release{false};
    inside = false;
    release = false;
    auto blocking = [](void*, int32_t, int32_t, const uint8_t*, intptr_t, int32_t, int32_t,
                       const int32_t*, int32_t) {
        inside = true;
        while (!release.load())
            std::this_thread::sleep_for(1ms);
    };
    ASSERT_EQ(mac_capture_add(0, 64, 32, 0, 0, 64, 32, 0, 0, blocking, nullptr), 0);
    ASSERT_TRUE(stream(0)->pushFrame(solidFrame(64, 32, 0xff000000, {})));
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!inside.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(inside.load());
    EXPECT_EQ(mac_capture_wait_idle(0), 0) << "the callback still runs";
    release = true;
    EXPECT_EQ(mac_capture_wait_idle(5000), 1);
    mac_capture_stop();
}

TEST_F(Delivery, StreamWithoutCallbackRunsAndReleasesItsFrames) {
    ASSERT_EQ(addMain(nullptr), 0);
    for (int i = 0; i < 10; ++i) {
        // Never more than the queue depth held: the frames must come back
        // (within a bound generous enough for a loaded machine).
        const auto giveUp = std::chrono::steady_clock::now() + 5s;
        while (stream(0)->framesHeld() >= 3 && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::yield();
        EXPECT_TRUE(stream(0)->pushFrame(solidFrame(64, 32, 5)));
    }
}

TEST_F(Delivery, OneStreamDeliversInOrderOnOneThreadNeverTwiceAtOnce) {
    Receiver receiver;
    ASSERT_EQ(addMain(&receiver), 0);
    receiver.hold = [] { std::this_thread::sleep_for(1ms); };
    uint32_t pushed = 0;
    for (uint32_t i = 0; i < 40; ++i) {
        // The queue depth bounds how far the producer runs ahead.
        while (!stream(0)->pushFrame(solidFrame(64, 32, 100 + i)))
            std::this_thread::yield();
        ++pushed;
    }
    ASSERT_TRUE(receiver.waitFor(pushed));
    const auto frames = receiver.snapshot();
    EXPECT_FALSE(receiver.overlapped.load());
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].firstPixel, 100 + i);
        EXPECT_EQ(frames[i].thread, frames[0].thread);
    }
    EXPECT_NE(frames[0].thread, std::this_thread::get_id());
}

TEST_F(Delivery, TwoStreamsDeliverOnTheirOwnThreadsConcurrently) {
    Receiver first, second;
    ASSERT_EQ(addMain(&first), 0);
    ASSERT_EQ(mac_capture_add(7, 64, 32, 0, 0, 64, 32, 64, 0, &Receiver::callback, &second), 0);
    std::atomic<bool> release{false};
    // The first stream's callback blocks until the second stream delivered.
    first.hold = [&] {
        for (int i = 0; i < 5000 && !release.load(); ++i)
            std::this_thread::sleep_for(1ms);
    };
    second.hold = [&] { release = true; };
    ASSERT_TRUE(stream(0)->pushFrame(solidFrame(64, 32, 1)));
    ASSERT_TRUE(stream(1)->pushFrame(solidFrame(64, 32, 2)));
    ASSERT_TRUE(second.waitFor(1));
    ASSERT_TRUE(first.waitFor(1));
    EXPECT_TRUE(release.load());
    EXPECT_NE(first.snapshot()[0].thread, second.snapshot()[0].thread);
}

TEST_F(Delivery, NoCallbackRunsAfterStopReturns) {
    Receiver receiver;
    ASSERT_EQ(addMain(&receiver), 0);
    auto state = stream(0);
    mac_capture_stop();
    EXPECT_FALSE(state->pushFrame(solidFrame(64, 32, 9)));
    EXPECT_TRUE(receiver.snapshot().empty());
}

TEST_F(Delivery, FrameRateMayBeChangedFromInsideTheCallback) {
    Receiver receiver;
    ASSERT_EQ(addMain(&receiver), 0);
    receiver.hold = [] { mac_capture_set_fps(15); };
    ASSERT_TRUE(stream(0)->pushFrame(solidFrame(64, 32, 1)));
    ASSERT_TRUE(receiver.waitFor(1));
    EXPECT_EQ(stream(0)->settings().minFrameInterval, std::chrono::nanoseconds(1s) / 15);
}

} // namespace
} // namespace corvane::capture::testing
