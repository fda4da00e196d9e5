// The X11 backend's parts that need no X server: how an active output comes
// to show a mirrored display's area, the outputs' configuration kept on the
// root window for the next server, entries of the resource database, and the
// power service's retries without a system bus, on a test clock.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/x11/x11_output_steps.h"
#include "platform/x11/x11_outputs.h"
#include "platform/x11/x11_power.h"
#include "platform/x11/x11_resources.h"

using corvane::platform::AssertionKind;
using corvane::platform::Backoff;
using corvane::platform::x11::OutputFacts;
using corvane::platform::x11::OutputMirror;
using corvane::platform::x11::OutputStep;
using corvane::platform::x11::outputSteps;
using corvane::platform::x11::OutputWay;
using corvane::platform::x11::resourceValue;
using corvane::platform::x11::withResource;
using corvane::platform::x11::X11Power;
using namespace std::chrono_literals;

namespace {

constexpr OutputWay listed = OutputWay::listedMode;
constexpr OutputWay added = OutputWay::addedMode;
constexpr OutputWay scaled = OutputWay::scaled;

std::string describe(const std::vector<OutputStep>& steps) {
    std::string out;
    for (const OutputStep& s : steps)
        out += std::to_string(static_cast<int>(s.way)) + ":" + std::to_string(s.modeWidth) + "x" +
               std::to_string(s.modeHeight) + "@" + std::to_string(s.scaleX) + "," +
               std::to_string(s.scaleY) + " ";
    return out;
}

// A listed mode, an added mode or the output's own mode scaled, in that
// order, and nothing (the real screen, letterboxed) when none is possible.
TEST(X11OutputSteps, ModeThenTransformThenNothing) {
    struct Case {
        const char* name;
        OutputFacts facts;
        int32_t width, height;
        std::vector<OutputStep> steps;
    };
    // Facts: own mode, sideways, lists a mode of the size, takes any size.
    const OutputFacts monitor{1280, 800, false, true, false}, xvfb{1280, 800, false, false, true},
        both{1280, 800, false, true, true}, bare{1280, 800, false, false, false},
        sideMonitor{1280, 800, true, true, false}, sideXvfb{1280, 800, true, false, true},
        sideBare{1280, 800, true, false, false}, unknownXvfb{0, 0, false, false, true},
        unknownMonitor{0, 0, false, false, false};
    const OutputStep down{scaled, 1280, 800, 0.8, 0.96}, turned{scaled, 1280, 800, 1.28, 0.6};
    const Case cases[] = {
        {"a monitor lists the size", monitor, 1024, 768, {{listed, 1024, 768}, down}},
        {"no monitor (Xvfb's)", xvfb, 1024, 768, {{added, 1024, 768}, down}},
        {"listed before added", both, 1024, 768, {{listed, 1024, 768}, down}},
        {"without the size: scaled", bare, 1024, 768, {down}},
        {"scaled up", bare, 1920, 1200, {{scaled, 1280, 800, 1.5, 1.5}}},
        // Turned a quarter, a 1280 x 800 mode covers 800 x 1280 of the
        // screen: a 1024 x 768 area is a mode of 768 x 1024, or its own mode
        // stretched 1.28 across and 0.6 down.
        {"on its side, listed", sideMonitor, 1024, 768, {{listed, 768, 1024}, turned}},
        {"on its side, added", sideXvfb, 1024, 768, {{added, 768, 1024}, turned}},
        {"on its side, scaled", sideBare, 1024, 768, {turned}},
        {"own mode unknown: no transform", unknownXvfb, 1024, 768, {{added, 1024, 768}}},
        {"own mode unknown on a monitor", unknownMonitor, 1024, 768, {}},
        {"no area: nothing", both, 0, 768, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto steps = outputSteps(c.facts, c.width, c.height);
        EXPECT_EQ(steps, c.steps) << describe(steps);
    }
}

// What a server that is killed leaves on the root window for the next one:
// each output's own mode, place and transform, and whether we changed the
// transform (a scaled output), read back as written; a line cut short is
// left out rather than given back wrong.
TEST(X11OutputMirror, WhatIsToBeGivenBackReadsBackAsWritten) {
    const std::string scaled = "crtc 63 58 0 0 1280 800 1 1 65536 0 0 0 65536 0 0 0 65536 - 66\n";
    const std::string turned =
        "crtc 64 59 1280 0 800 1280 2 0 32768 0 0 0 32768 0 0 0 65536 bilinear 67,68\n";
    const std::string added = "added 90 66\n";
    OutputMirror mirror;
    mirror.load(scaled + turned + added);
    EXPECT_TRUE(mirror.changed());
    EXPECT_EQ(mirror.originalExtent(), std::make_pair(2080, 1280));
    EXPECT_EQ(mirror.save(), scaled + turned + added);

    OutputMirror cut;
    cut.load("crtc 63 58 0 0 1280 800 1 1 65536 0 0\n" + turned);
    EXPECT_EQ(cut.save(), turned);
    OutputMirror nothing;
    nothing.load("owner 12\nscreen 1280 800 338 211\n");
    EXPECT_FALSE(nothing.changed());
}

TEST(X11Resources, EntriesReadAndChangedOneByOne) {
    const std::string db = "Xft.dpi:\t96\n*background:\tgrey\nXft.dpiX:\t1\n";
    EXPECT_EQ(resourceValue(db, "Xft.dpi"), "96");
    EXPECT_EQ(resourceValue(db, "*background"), "grey");
    EXPECT_EQ(resourceValue(db, "Xcursor.size"), std::nullopt);
    EXPECT_EQ(resourceValue("Xft.dpi: 96\nXft.dpi:  120 \n", "Xft.dpi"), "120"); // the last counts
    struct Case {
        const char* name;
        std::string in;
        std::optional<std::string> value;
        std::string out;
    };
    const Case cases[] = {
        {"replaced in place", db, "192", "Xft.dpi:\t192\n*background:\tgrey\nXft.dpiX:\t1\n"},
        {"added at the end", "a:\t1\n", "192", "a:\t1\nXft.dpi:\t192\n"},
        {"into nothing", "", "192", "Xft.dpi:\t192\n"},
        {"removed", db, std::nullopt, "*background:\tgrey\nXft.dpiX:\t1\n"},
        {"duplicates become one", "Xft.dpi:\t1\nXft.dpi:\t2\n", "3", "Xft.dpi:\t3\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(withResource(c.in, "Xft.dpi", c.value), c.out) << c.name;
}

// 30 loop turns a second must not each open a bus connection: after a
// failure logind is asked again after 1 s, then 2, 4, ... at most 60 s.
TEST(LogindRetry, AMissingBusIsAskedAgainOnlyAfterAGrowingPause) {
    int attempts = 0;
    bool busUp = false;
    Backoff::Clock::time_point now{};
    X11Power power(
        [&](const char* what, std::string_view) {
            ++attempts;
            EXPECT_STREQ(what, "sleep");
            return busUp ? open("/dev/null", O_RDONLY | O_CLOEXEC) : -1;
        },
        [&] { return now; });
    auto turns = [&](int count) {
        for (int i = 0; i < count; ++i)
            EXPECT_EQ(power.createAssertion(AssertionKind::PreventSystemSleep, "remote"), 0u);
    };
    turns(30);
    EXPECT_EQ(attempts, 1);
    const struct {
        std::chrono::milliseconds advance;
        int attemptsAfter;
    } steps[] = {{999ms, 1}, {1ms, 2}, {1999ms, 2}, {1ms, 3}, {4s, 4}, {8s, 5},
                 {16s, 6},   {32s, 7}, {59s, 7},    {1s, 8},  {60s, 9}};
    for (const auto& step : steps) {
        now += step.advance;
        turns(3);
        EXPECT_EQ(attempts, step.attemptsAfter) << "after " << step.advance.count() << " ms";
    }
    busUp = true;
    now += 60s;
    const uint32_t id = power.createAssertion(AssertionKind::PreventSystemSleep, "remote");
    EXPECT_NE(id, 0u);
    power.releaseAssertion(id);
    busUp = false;
    turns(1);
    EXPECT_EQ(attempts, 11) << "a success starts the schedule afresh";
    now += 1s;
    turns(1);
    EXPECT_EQ(attempts, 12);
}

} // namespace
