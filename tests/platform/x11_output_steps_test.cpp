// How an active output comes to show a mirrored display's area: a listed
// mode, an added mode or its own mode scaled, in that order, and nothing
// (the real screen, letterboxed) when none is possible.
#include <gtest/gtest.h>

#include "platform/x11/x11_output_steps.h"

using corvane::platform::x11::OutputFacts;
using corvane::platform::x11::OutputStep;
using corvane::platform::x11::outputSteps;
using corvane::platform::x11::OutputWay;

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

} // namespace
