// The capture watchdog and capture restarts, over the sim capture.
#include <gtest/gtest.h>
#include <thread>

#include "base/clock.h"
#include "capture/mac_capture.h"
#include "server/core/core_fixture.h"
#include "server/shadow/Mac/loop/frames.h"
#include "server/shadow/Mac/loop/repaint.h"
#include "server/shadow/Mac/loop/thread.h"

class CaptureWatchdog : public CoreTest {
  protected:
    void SetUp() override {
        CoreTest::SetUp();
        sim().simCapture().setDisplays({{1, 0, 0, 1280, 800}}, 1);
        // The stopped count is process-wide and earlier tests may have moved it.
        record()->stoppedCountSeen = static_cast<uint64_t>(mac_capture_stopped_count());
    }
    void TearDown() override {
        mac_capture_stop();
        CoreTest::TearDown();
    }
    size_t streamsStarted() { return sim().simCapture().streams().size(); }
    // The display server stops the latest stream; back once the capture saw it.
    void stopLatestStream() {
        const int64_t before = mac_capture_stopped_count();
        sim().simCapture().streams().back()->stopFromDisplayServer("screen asleep");
        ASSERT_TRUE(waitUntilTrue([&] { return mac_capture_stopped_count() > before; }));
    }
};

TEST_F(CaptureWatchdog, RestartsAStoppedStreamOnlyWhileInputIsRecent) {
    record()->idleAwakeMs = 60000;
    ASSERT_EQ(mac_shadow_start_capture(record()), 0);
    record()->captureDown = false;
    addClient();
    mac_shadow_loop_turn(record(), now());
    const size_t before = streamsStarted();

    // Idle for longer than the window: a stopped stream stays stopped.
    runTurnsUntil(now() + 61000);
    stopLatestStream();
    runTurnsUntil(now() + 3000);
    EXPECT_EQ(streamsStarted(), before) << "no restart while the session is idle";

    // Remote input: the watchdog restarts the stopped stream.
    record()->inputSeen = true;
    turn();
    EXPECT_EQ(streamsStarted(), before + 1);
    EXPECT_EQ(LogLines::count("the capture had stopped (screen asleep?): restarted"), 1u);
    EXPECT_EQ(LogLines::count("capture restarted: repainting every 30 s"), 1u);
    EXPECT_EQ(record()->riskEvents, 1u);

    // A second stop within two seconds waits for the next allowed restart.
    stopLatestStream();
    runTurnsUntil(now() + 1800);
    EXPECT_EQ(streamsStarted(), before + 1);
    runTurnsUntil(now() + 300);
    EXPECT_EQ(streamsStarted(), before + 2);
}

TEST_F(CaptureWatchdog, FailedRestartIsRetriedAfterTwoSeconds) {
    addClient();
    ASSERT_EQ(mac_shadow_start_capture(record()), 0);
    record()->captureDown = false;
    mac_shadow_loop_turn(record(), now());
    sim().simCapture().setStartAnswer(corvane::platform::sim::SimAnswer::Fail);
    stopLatestStream();
    turn();
    EXPECT_TRUE(record()->captureDown);
    EXPECT_EQ(LogLines::count("restart failed, trying again"), 1u);
    runTurnsUntil(now() + 1900);
    EXPECT_EQ(LogLines::count("restart failed, trying again"), 1u);
    sim().simCapture().setStartAnswer(corvane::platform::sim::SimAnswer::Succeed);
    runTurnsUntil(now() + 200);
    EXPECT_FALSE(record()->captureDown);
    EXPECT_EQ(LogLines::count("the capture had stopped (screen asleep?): restarted"), 1u);
}

namespace {
// A frame of the whole 1280x800 screen in one colour, `dirty` changed.
corvane::platform::sim::SimFrame screenFrame(uint32_t argb, corvane::platform::DirtyRect dirty) {
    corvane::platform::sim::SimFrame frame;
    frame.width = 1280;
    frame.height = 800;
    frame.pixels.assign(1280 * 800, argb);
    frame.dirty = {dirty};
    return frame;
}
} // namespace

// Frames of the stream reach the surface on its own delivery thread, which
// stamps each frame while the subsystem thread's repaint schedule reads the
// stamp (the ThreadSanitizer build checks they agree on how). Which part of
// a frame is copied is in frames_test.cpp.
TEST_F(CaptureWatchdog, FramesArriveWhileTheRepaintScheduleRuns) {
    addClient();
    ASSERT_EQ(mac_shadow_start_capture(record()), 0);
    const auto settings = sim().simCapture().streams()[0]->settings();
    EXPECT_EQ(settings.width, 1280) << "the real screen, into the desktop";
    EXPECT_EQ(settings.height, 800);
    const auto frame = screenFrame(0xFF0000FF, {0, 0, 8, 8});
    constexpr uint64_t kFrames = 20;
    std::atomic<bool> delivering{true};
    std::jthread schedule([&] {
        while (delivering.load())
            mac_shadow_scheduled_repaints(record(), mac_now_ms());
    });
    for (uint64_t i = 1; i <= kFrames; ++i) {
        EXPECT_TRUE(sim().simCapture().streams()[0]->pushFrame(frame)) << i;
        EXPECT_TRUE(waitUntilTrue([&] { return record()->framesReceived.load() == i; })) << i;
    }
    delivering.store(false);
    EXPECT_NE(record()->lastFrameTick.load(), 0u);
    EXPECT_TRUE(waitUntilTrue([&] { return (pixel(4, 4) & 0xFFFFFF) == 0x0000FFu; }))
        << "the frames reach the surface";
}

TEST_F(CaptureWatchdog, StartRunsTheThreadAndStopEndsIt) {
    ASSERT_EQ(mac_shadow_subsystem_start(&record()->common.base), 1);
    EXPECT_FALSE(record()->captureDown);
    EXPECT_EQ(streamsStarted(), 0u) << "nothing is captured before a client needs the desktop";
    EXPECT_TRUE(waitUntilTrue([&] { return mac_shadow_frame_rate(&record()->common.base) == 16; }))
        << "the thread starts at 16 turns a second";
    addClient();
    EXPECT_TRUE(waitUntilTrue([&] { return streamsStarted() == 1; }))
        << "the thread starts the capture of the client's session";
    ASSERT_EQ(mac_shadow_subsystem_stop(&record()->common.base), 1);
    EXPECT_EQ(LogLines::count("the subsystem thread did not end within 5 s"), 0u);
    EXPECT_EQ(record()->tearingDown.load(), 1);
    EXPECT_TRUE(sim().simCapture().streams()[0]->stopRequested());
}

TEST_F(CaptureWatchdog, NoStreamStartsOnceTeardownHasBegun) {
    ASSERT_EQ(mac_shadow_start_capture(record()), 0);
    const size_t before = streamsStarted();
    record()->tearingDown.store(1);
    EXPECT_FALSE(mac_shadow_restart_capture(record()));
    EXPECT_EQ(mac_shadow_start_capture(record()), -1);
    EXPECT_EQ(streamsStarted(), before) << "a restart after the teardown's stop would feed "
                                           "frames to a record about to be freed";
    record()->captureDown = true;
    advance(5000);
    mac_shadow_capture_watchdog(record(), now());
    EXPECT_EQ(streamsStarted(), before);
    record()->tearingDown.store(0);
}
