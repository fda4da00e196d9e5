// Which lines of the server's log are held back as repeats.
#include <gtest/gtest.h>

#include "server/cli/log_lines.h"

TEST(LogLines, ALibraryLineRepeatedWithinAMinutePrintsOnceThenWithItsCount) {
    RepeatLimiter limiter;
    const struct {
        const char* line;
        uint64_t atMs;
        bool print;
        uint64_t heldBack;
    } steps[] = {
        {"no changes", 1000, true, 0},
        {"no changes", 1040, false, 0},
        {"bmpsize", 1050, true, 0}, // another line keeps its own count
        {"no changes", 30000, false, 0},
        {"no changes", 60999, false, 0},
        {"no changes", 61000, true, 3}, // a minute on: printed with the count
        {"no changes", 200000, true, 0},
        {"bmpsize", 200001, true, 0},
    };
    for (const auto& step : steps) {
        const RepeatLimiter::Verdict got = limiter.offer(step.line, step.atMs);
        EXPECT_EQ(got.print, step.print) << step.line << " at " << step.atMs;
        EXPECT_EQ(got.heldBack, step.heldBack) << step.line << " at " << step.atMs;
    }
}

TEST(LogLines, OnlyTheLibrarysPerFrameModulesAreLimited) {
    const struct {
        const char* prefix;
        const char* tag;
        bool limited;
    } cases[] = {
        {"[13:48:34:873] [1:2] [INFO][com.freerdp.codec] - [avc444_compress]: ", "com.freerdp.codec",
         true},
        {"[t] [1:2] [INFO][com.freerdp.codec.progressive] - [f]: ", "com.freerdp.codec.progressive",
         true},
        {"[t] [1:2] [WARN][com.winpr.utils.image] - [winpr_image_bitmap_read_buffer]: ",
         "com.winpr.utils.image", true},
        // Connections and our own lines are counted by people and tests.
        {"[t] [1:2] [INFO][com.freerdp.core.listener] - [f]: ", "com.freerdp.core.listener", false},
        {"[t] [1:2] [INFO][com.freerdp.server.shadow.mac] - [f]: ", "com.freerdp.server.shadow.mac",
         false},
        {"[t] [1:2] [INFO][com.freerdp.codecs] - [f]: ", "com.freerdp.codecs", false},
        {"no prefix at all", "", false},
    };
    for (const auto& c : cases) {
        const std::string tag = corvane_log_prefix_tag(c.prefix);
        EXPECT_EQ(tag, c.tag) << c.prefix;
        EXPECT_EQ(corvane_log_tag_limited(tag), c.limited) << c.prefix;
    }
}
