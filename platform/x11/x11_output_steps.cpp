#include "x11_output_steps.h"

namespace corvane::platform::x11 {

std::vector<OutputStep> outputSteps(const OutputFacts& facts, int32_t width, int32_t height) {
    std::vector<OutputStep> steps;
    if (width <= 0 || height <= 0)
        return steps;
    // A monitor turned a quarter scans a mode of the area's size on its side.
    const auto w = static_cast<uint32_t>(facts.sideways ? height : width);
    const auto h = static_cast<uint32_t>(facts.sideways ? width : height);
    if (facts.listsSize)
        steps.push_back({OutputWay::listedMode, w, h});
    else if (facts.takesAnySize)
        steps.push_back({OutputWay::addedMode, w, h});
    if (facts.modeWidth == 0 || facts.modeHeight == 0)
        return steps;
    // RandR turns the mode first and applies the transform to what the
    // turned mode covers on the screen.
    const uint32_t onScreenW = facts.sideways ? facts.modeHeight : facts.modeWidth;
    const uint32_t onScreenH = facts.sideways ? facts.modeWidth : facts.modeHeight;
    steps.push_back({OutputWay::scaled, facts.modeWidth, facts.modeHeight,
                     static_cast<double>(width) / onScreenW,
                     static_cast<double>(height) / onScreenH});
    return steps;
}

} // namespace corvane::platform::x11
