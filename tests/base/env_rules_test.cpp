// The environment contract: first-character flags, leading numbers, bounds.
#include <gtest/gtest.h>

#include "base/env.h"

using namespace mac_env;

TEST(EnvNumbers, LeadingIntegerTakesSignAndDigitsOnly) {
    EXPECT_EQ(leadingInt("42abc"), 42);
    EXPECT_EQ(leadingInt("+20"), 20);
    EXPECT_EQ(leadingInt("-7"), -7);
    EXPECT_EQ(leadingInt(" 20"), 0);
    EXPECT_EQ(leadingInt("abc"), 0);
    EXPECT_EQ(leadingInt(""), 0);
    EXPECT_EQ(leadingInt(nullptr), 0);
}

TEST(EnvNumbers, LeadingIntegerSaturatesAtEveryDigit) {
    const struct {
        const char* text;
        int64_t value;
    } cases[] = {
        {"9223372036854775807", INT64_MAX},
        {"9223372036854775808", INT64_MAX}, // overflows only in the last digit
        {"9223372036854775810", INT64_MAX},
        {"99999999999999999999999", INT64_MAX},
        {"-9223372036854775807", -INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"-9223372036854775809", INT64_MIN},
        {"-99999999999999999999999", INT64_MIN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(leadingInt(c.text), c.value) << c.text;
    EXPECT_EQ(fpsFrom("9223372036854775808"), 30);
}

TEST(EnvNumbers, LeadingDoubleTakesOptionalFraction) {
    EXPECT_DOUBLE_EQ(leadingDouble("0.75"), 0.75);
    EXPECT_DOUBLE_EQ(leadingDouble("1.0x"), 1.0);
    EXPECT_DOUBLE_EQ(leadingDouble(".5"), 0.5);
    EXPECT_DOUBLE_EQ(leadingDouble("-2.5"), -2.5);
    EXPECT_DOUBLE_EQ(leadingDouble("x1"), 0);
}

// Each variable's reading: the frame rate (1-60, else 30), the idle window
// (1-240 minutes, else 15), the scale (a quarter to one, else unset), the
// flags (the first character decides; the mirror is off only for "0"), and
// the probe (any non-empty value).
TEST(EnvValues, EachVariableReadsItsRange) {
    const struct {
        const char* value;
        int fps;
        uint32_t idleMs;
        double scale;
    } numbers[] = {
        {nullptr, 30, 900000, 0}, {"0", 30, 900000, 0},       {"61", 30, 3660000, 0},
        {"abc", 30, 900000, 0},   {" 20", 30, 900000, 0},     {"+20", 20, 1200000, 0},
        {"60", 60, 3600000, 0},   {"1", 1, 60000, 1.0},       {"240", 30, 14400000, 0},
        {"241", 30, 900000, 0},   {"0.75", 30, 900000, 0.75}, {"0.25", 30, 900000, 0.25},
        {"1.5", 1, 60000, 0},     {"0.2", 30, 900000, 0},     {"1.0", 1, 60000, 1.0},
    };
    for (const auto& c : numbers) {
        const std::string shown = c.value ? c.value : "(unset)";
        EXPECT_EQ(fpsFrom(c.value), c.fps) << shown;
        EXPECT_EQ(idleAwakeMsFrom(c.value), c.idleMs) << shown;
        EXPECT_DOUBLE_EQ(scaleFrom(c.value), c.scale) << shown;
    }
    const struct {
        const char* value;
        bool audio, adaptive, native, parentWatch, cursor, ctrlAsCmd, mirror, probe;
    } flags[] = {
        {nullptr, true, true, false, false, true, true, true, false},
        {"", true, true, false, false, true, true, true, false},
        {"0", false, false, false, false, false, false, false, true},
        {"00", false, false, false, false, false, false, true, true},
        {"0ff", false, false, false, false, false, false, true, true},
        {"1yes", true, true, true, true, true, true, true, true},
        {"no", true, true, false, false, true, true, true, true},
        {"true", true, true, false, false, true, true, true, true},
    };
    for (const auto& c : flags) {
        const std::string shown = c.value ? c.value : "(unset)";
        EXPECT_EQ(audioFrom(c.value), c.audio) << shown;
        EXPECT_EQ(adaptiveFpsFrom(c.value), c.adaptive) << shown;
        EXPECT_EQ(nativeFrom(c.value), c.native) << shown;
        EXPECT_EQ(parentWatchFrom(c.value), c.parentWatch) << shown;
        EXPECT_EQ(cursorFrom(c.value), c.cursor) << shown;
        EXPECT_EQ(ctrlAsCmdFrom(c.value), c.ctrlAsCmd) << shown;
        EXPECT_EQ(mirrorFrom(c.value), c.mirror) << shown;
        EXPECT_EQ(permsProbeFrom(c.value), c.probe) << shown;
    }
}
