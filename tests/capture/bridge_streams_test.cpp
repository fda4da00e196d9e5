// Starting, configuring and stopping streams: finding the display (the main
// display's choice, tries and pauses, time limits, the display frame query),
// settings from the arguments and the environment, failure paths, sound on
// the first stream only, the stop limit and the stopped count.
#include "bridge_fixture.h"

namespace corvane::capture::testing {
namespace {

class DisplayLookup : public BridgeTest {};

// Display 0 is the main display, else the first listed; with no display at
// all it fails after one try.
TEST_F(DisplayLookup, DisplayZeroIsTheMainOrTheFirstListed) {
    capture().setDisplays({{3, 0, 0, 800, 600}, {1, 800, 0, 1440, 900}, {5, 0, 0, 10, 10}}, 1);
    ASSERT_EQ(addMain(), 0);
    EXPECT_EQ(stream(0)->display().id, 1u);
    capture().setDisplays({{3, 0, 0, 800, 600}, {5, 0, 0, 10, 10}}, 1);
    ASSERT_EQ(addMain(), 0);
    EXPECT_EQ(stream(1)->display().id, 3u);
    capture().setDisplays({}, 1);
    const int queries = capture().contentQueries();
    CaptureStderr();
    EXPECT_EQ(addMain(), -1);
    EXPECT_THAT(GetCapturedStderr(), HasSubstr("mac_capture: display 0 not found\n"));
    EXPECT_EQ(capture().contentQueries(), queries + 1);
    EXPECT_TRUE(timing_.sleeps.empty());
}

TEST_F(DisplayLookup, VirtualDisplayThatAppearsLateIsFound) {
    capture().setDisplaysVisibleFromQuery(5);
    ASSERT_EQ(mac_capture_add(7, 100, 100, 0, 0, 100, 100, 0, 0, nullptr, nullptr), 0);
    EXPECT_EQ(capture().contentQueries(), 5);
    EXPECT_EQ(timing_.sleeps.size(), 4u);
    EXPECT_EQ(stream(0)->display().id, 7u);
}

// A display that is not listed is asked for twelve times, 0.3 s apart, a
// refused query logged at each try; a query that hangs ends the lookup after
// 10 s without more tries (its late answer finds nobody waiting).
TEST_F(DisplayLookup, AMissingDisplayIsTriedTwelveTimesUnlessTheQueryHangs) {
    const struct {
        SimAnswer answer;
        int queries;
        const char* line;
        size_t lines;
    } cases[] = {
        {SimAnswer::Succeed, 12, "mac_capture: display 42 not found\n", 1},
        {SimAnswer::Fail, 12,
         "mac_capture: no Screen Recording permission? the user declined screen capture\n", 12},
        {SimAnswer::Hang, 1, "mac_capture: display 42 not found\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.queries == 1 ? "hanging query" : c.lines == 1 ? "not listed" : "refused");
        capture().setContentAnswer(c.answer);
        timing_.waits.clear();
        timing_.sleeps.clear();
        const int before = capture().contentQueries();
        CaptureStderr();
        EXPECT_EQ(mac_capture_add(42, 100, 100, 0, 0, 100, 100, 0, 0, nullptr, nullptr), -1);
        const std::string log = GetCapturedStderr();
        EXPECT_EQ(capture().contentQueries() - before, c.queries);
        EXPECT_EQ(timing_.waits, std::vector<std::chrono::milliseconds>(c.queries, 10000ms));
        EXPECT_EQ(timing_.sleeps, std::vector<std::chrono::milliseconds>(c.queries - 1, 300ms));
        size_t lines = 0;
        for (size_t at = log.find(c.line); at != std::string::npos; at = log.find(c.line, at + 1))
            ++lines;
        EXPECT_EQ(lines, c.lines) << log;
        EXPECT_EQ(runningStreams(), 0u);
        EXPECT_TRUE(capture().streams().empty());
        capture().releaseHung();
    }
}

// The frame in points, truncated toward zero; an unknown display writes
// nothing after one try; null pointers only ask whether the display exists.
TEST_F(DisplayLookup, DisplayFrameReportsPointsTruncatedTowardZero) {
    capture().setDisplays({{1, 0, 0, 1440, 900}, {9, -1280.7, 10.9, 1279.5, 719.99}}, 1);
    int32_t x = 0, y = 0, w = 0, h = 0;
    ASSERT_EQ(mac_display_frame(9, &x, &y, &w, &h), 1);
    EXPECT_EQ(std::vector<int32_t>({x, y, w, h}), std::vector<int32_t>({-1280, 10, 1279, 719}));
    ASSERT_EQ(mac_display_frame(0, &x, &y, &w, &h), 1);
    EXPECT_EQ(w, 1440);
    const int queries = capture().contentQueries();
    EXPECT_EQ(mac_display_frame(99, &x, &y, &w, &h), 0);
    EXPECT_EQ(capture().contentQueries(), queries + 1);
    EXPECT_EQ(w, 1440) << "nothing written";
    EXPECT_EQ(mac_display_frame(9, nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(mac_display_frame(8, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(mac_display_frame(0, nullptr, nullptr, &h, nullptr), 1);
    EXPECT_EQ(h, 1440);
}

std::chrono::nanoseconds perSecond(int fps) {
    return std::chrono::nanoseconds(1s) / fps;
}

class StreamSettings : public BridgeTest {};

TEST_F(StreamSettings, DestinationIsSetOnlyWhenPositiveAndDifferentFromTheFrame) {
    ASSERT_EQ(mac_capture_add(0, 1920, 1080, 0, 0, 1920, 1080, 0, 0, nullptr, nullptr), 0);
    ASSERT_EQ(mac_capture_add(0, 1920, 1080, 10, 20, 0, 900, 0, 0, nullptr, nullptr), 0);
    ASSERT_EQ(mac_capture_add(0, 1920, 1080, 10, 20, 1440, -5, 0, 0, nullptr, nullptr), 0);
    ASSERT_EQ(mac_capture_add(0, 1920, 1080, 240, 0, 1440, 1080, 0, 0, nullptr, nullptr), 0);
    EXPECT_FALSE(stream(0)->settings().destination.has_value());
    EXPECT_FALSE(stream(1)->settings().destination.has_value());
    EXPECT_FALSE(stream(2)->settings().destination.has_value());
    ASSERT_TRUE(stream(3)->settings().destination.has_value());
    EXPECT_EQ(*stream(3)->settings().destination, (platform::Rect{240, 0, 1440, 1080}));
    EXPECT_EQ(stream(3)->settings().width, 1920);
    EXPECT_EQ(stream(3)->settings().queueDepth, 3);
}

// The frame rate is the whole value or 30; the cursor is hidden by a value
// starting with "0" (base/env's rule: tests/base/env_rules_test.cpp).
TEST_F(StreamSettings, FrameRateAndCursorComeFromTheEnvironment) {
    const std::vector<std::pair<const char*, int>> rates = {
        {"0", 30}, {"61", 30},  {"abc", 30}, {" 20", 30}, {"+20", 20},        {"60", 60},
        {"1", 1},  {"20x", 30}, {"-5", 30},  {"", 30},    {"99999999999", 30}};
    for (const auto& [value, fps] : rates) {
        setenv("MAC_SHADOW_FPS", value, 1);
        ASSERT_EQ(addMain(), 0);
        EXPECT_EQ(stream(capture().streams().size() - 1)->settings().minFrameInterval,
                  perSecond(fps))
            << "MAC_SHADOW_FPS=\"" << value << "\"";
    }
    const std::pair<const char*, bool> cursors[] = {{"0ff", false}, {"no", true}, {nullptr, true}};
    for (const auto& [value, shown] : cursors) {
        value ? setenv("MAC_SHADOW_CURSOR", value, 1) : unsetenv("MAC_SHADOW_CURSOR");
        ASSERT_EQ(addMain(), 0);
        EXPECT_EQ(stream(capture().streams().size() - 1)->settings().showCursor, shown)
            << "MAC_SHADOW_CURSOR=" << (value ? value : "(unset)");
    }
}

TEST_F(StreamSettings, UnusableFrameSizesAreRefusedBeforeAnyLookup) {
    CaptureStderr();
    EXPECT_EQ(mac_capture_add(0, 0, 100, 0, 0, 0, 0, 0, 0, nullptr, nullptr), -1);
    EXPECT_EQ(mac_capture_add(0, 100, -1, 0, 0, 0, 0, 0, 0, nullptr, nullptr), -1);
    EXPECT_EQ(mac_capture_add(0, 100000, 100, 0, 0, 0, 0, 0, 0, nullptr, nullptr), -1);
    EXPECT_THAT(GetCapturedStderr(), HasSubstr("mac_capture: invalid frame size 0x100\n"));
    EXPECT_EQ(capture().contentQueries(), 0);
}

class FrameRate : public BridgeTest {};

TEST_F(FrameRate, OutOfRangeRatesSetThirty) {
    ASSERT_EQ(addMain(), 0);
    ASSERT_EQ(addMain(), 0);
    mac_capture_set_fps(0);
    mac_capture_set_fps(100);
    mac_capture_set_fps(12);
    const auto requests = capture().intervalRequests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests[0], perSecond(30));
    EXPECT_EQ(requests[2], perSecond(30));
    EXPECT_EQ(requests[4], perSecond(12));
    EXPECT_EQ(stream(1)->settings().minFrameInterval, perSecond(12));
}

TEST_F(FrameRate, RefusedChangeIsLoggedAndKeepsTheOldRate) {
    ASSERT_EQ(addMain(), 0);
    capture().setIntervalAnswer(SimAnswer::Fail);
    CaptureStderr();
    mac_capture_set_fps(10);
    EXPECT_THAT(GetCapturedStderr(),
                HasSubstr("mac_capture: updateConfiguration failed: the display server refused "
                          "the frame interval\n"));
    EXPECT_EQ(stream(0)->settings().minFrameInterval, perSecond(30));
}

TEST_F(FrameRate, AfterStopNothingIsTouched) {
    ASSERT_EQ(addMain(), 0);
    stream(0)->stopFromDisplayServer("display asleep");
    const int64_t stopped = mac_capture_stopped_count();
    mac_capture_stop();
    EXPECT_EQ(runningStreams(), 0u);
    mac_capture_set_fps(5);
    EXPECT_TRUE(capture().intervalRequests().empty());
    EXPECT_EQ(mac_capture_stopped_count(), stopped);
}

class StartFailures : public BridgeTest {};

TEST_F(StartFailures, RefusedOutputOrStartIsLoggedAndNothingIsAdded) {
    capture().setCreateAnswer(SimAnswer::Fail);
    CaptureStderr();
    EXPECT_EQ(addMain(), -1);
    capture().setCreateAnswer(SimAnswer::Succeed);
    capture().setStartAnswer(SimAnswer::Fail);
    EXPECT_EQ(addMain(), -1);
    const std::string log = GetCapturedStderr();
    EXPECT_THAT(log,
                HasSubstr("mac_capture: addStreamOutput failed: the stream refused its output\n"));
    EXPECT_THAT(log, HasSubstr("mac_capture: startCapture failed: the display server refused to "
                               "start the stream\n"));
    EXPECT_EQ(runningStreams(), 0u);
    EXPECT_TRUE(stream(capture().streams().size() - 1)->destroyed());
}

TEST_F(StartFailures, StartWithoutAnswerTimesOutAfterFifteenSeconds) {
    capture().setStartAnswer(SimAnswer::Hang);
    CaptureStderr();
    EXPECT_EQ(addMain(), -1);
    EXPECT_THAT(GetCapturedStderr(), HasSubstr("mac_capture: timed out starting capture\n"));
    ASSERT_FALSE(timing_.waits.empty());
    EXPECT_EQ(timing_.waits.back(), 15000ms);
    EXPECT_TRUE(stream(0)->destroyed());
    EXPECT_EQ(runningStreams(), 0u);
    // The late answer must not reach the released stream's state.
    CaptureStderr();
    capture().releaseHung();
    GetCapturedStderr();
    EXPECT_EQ(runningStreams(), 0u);
}

class Sound : public BridgeTest {};

// Sound rides on the first stream that started, and only with a callback.
TEST_F(Sound, OnlyTheFirstRunningStreamCarriesSound) {
    ASSERT_EQ(addMain(), 0);
    EXPECT_FALSE(stream(0)->settings().captureSound) << "no callback";
    mac_capture_stop();
    setSoundCallbackInstalled(true);
    capture().setStartAnswer(SimAnswer::Fail);
    CaptureStderr();
    ASSERT_EQ(addMain(), -1);
    GetCapturedStderr();
    capture().setStartAnswer(SimAnswer::Succeed);
    ASSERT_EQ(addMain(), 0);
    ASSERT_EQ(addMain(), 0);
    EXPECT_TRUE(stream(1)->settings().captureSound) << "the first failed to start";
    EXPECT_TRUE(stream(2)->settings().captureSound);
    EXPECT_FALSE(stream(3)->settings().captureSound);
}

class Stopping : public BridgeTest {};

TEST_F(Stopping, StopEndsEveryStreamInOrderAndEmptiesTheList) {
    ASSERT_EQ(addMain(), 0);
    ASSERT_EQ(mac_capture_add(7, 100, 100, 0, 0, 100, 100, 1440, 0, nullptr, nullptr), 0);
    EXPECT_EQ(runningStreams(), 2u);
    mac_capture_stop();
    EXPECT_EQ(runningStreams(), 0u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(stream(i)->stopRequested());
        EXPECT_TRUE(stream(i)->destroyed());
    }
}

TEST_F(Stopping, UnconfirmedStopIsWaitedForFiveSecondsPerStream) {
    ASSERT_EQ(addMain(), 0);
    ASSERT_EQ(addMain(), 0);
    capture().setStopAnswer(SimAnswer::Hang);
    timing_.waits.clear();
    mac_capture_stop();
    EXPECT_EQ(timing_.waits, (std::vector<std::chrono::milliseconds>{5000ms, 5000ms}));
    EXPECT_TRUE(stream(1)->destroyed());
    EXPECT_EQ(runningStreams(), 0u);
    capture().releaseHung();
}

TEST_F(Stopping, StreamStoppedByTheDisplayServerIsCountedAndStaysListed) {
    ASSERT_EQ(addMain(), 0);
    const int64_t before = mac_capture_stopped_count();
    CaptureStderr();
    stream(0)->stopFromDisplayServer("the display went to sleep");
    EXPECT_THAT(GetCapturedStderr(),
                HasSubstr("mac_capture: stream stopped: the display went to sleep\n"));
    EXPECT_EQ(mac_capture_stopped_count(), before + 1);
    EXPECT_EQ(runningStreams(), 1u);
    mac_capture_stop();
    EXPECT_EQ(mac_capture_stopped_count(), before + 1);
}

} // namespace
} // namespace corvane::capture::testing
