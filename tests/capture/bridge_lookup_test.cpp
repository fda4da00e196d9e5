// Finding displays: main-display choice, tries and pauses, time limits, and
// the display frame query.
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

} // namespace
} // namespace corvane::capture::testing
