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
    const Case cases[] = {
        {"a monitor that lists the size",
         {1280, 800, false, true, false},
         1024,
         768,
         {{listed, 1024, 768}, {scaled, 1280, 800, 0.8, 0.96}}},
        {"an output without a monitor (Xvfb's)",
         {1280, 800, false, false, true},
         1024,
         768,
         {{added, 1024, 768}, {scaled, 1280, 800, 0.8, 0.96}}},
        {"a listed mode comes before an added one",
         {1280, 800, false, true, true},
         1024,
         768,
         {{listed, 1024, 768}, {scaled, 1280, 800, 0.8, 0.96}}},
        {"a monitor without the size is scaled",
         {1280, 800, false, false, false},
         1024,
         768,
         {{scaled, 1280, 800, 0.8, 0.96}}},
        {"scaled up onto a larger desktop",
         {1280, 800, false, false, false},
         1920,
         1200,
         {{scaled, 1280, 800, 1.5, 1.5}}},
        // Turned a quarter, a 1280 x 800 mode covers 800 x 1280 of the
        // screen: a 1024 x 768 area is a mode of 768 x 1024, or its own mode
        // stretched 1.28 across and 0.6 down.
        {"a monitor on its side lists the size",
         {1280, 800, true, true, false},
         1024,
         768,
         {{listed, 768, 1024}, {scaled, 1280, 800, 1.28, 0.6}}},
        {"an output on its side takes an added mode",
         {1280, 800, true, false, true},
         1024,
         768,
         {{added, 768, 1024}, {scaled, 1280, 800, 1.28, 0.6}}},
        {"a monitor on its side is scaled",
         {1280, 800, true, false, false},
         1024,
         768,
         {{scaled, 1280, 800, 1.28, 0.6}}},
        {"its own mode unknown: no transform",
         {0, 0, false, false, true},
         1024,
         768,
         {{added, 1024, 768}}},
        {"its own mode unknown on a monitor: nothing", {0, 0, false, false, false}, 1024, 768, {}},
        {"no area: nothing", {1280, 800, false, true, true}, 0, 768, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto steps = outputSteps(c.facts, c.width, c.height);
        EXPECT_EQ(steps, c.steps) << describe(steps);
    }
}

} // namespace
