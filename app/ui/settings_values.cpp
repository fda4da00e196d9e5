#include "app/ui/settings_values.h"

#include <algorithm>

#include "app/core/text_util.h"

namespace corvane::app::ui::SettingsValues {

namespace {

int indexOfTitle(const std::vector<std::string>& titles, const std::string& title) {
    auto it = std::find(titles.begin(), titles.end(), title);
    return it == titles.end() ? -1 : static_cast<int>(it - titles.begin());
}

long long clampedValue(const std::vector<long long>& values, int index) {
    return values[static_cast<size_t>(std::clamp(index, 0, int(values.size()) - 1))];
}

} // namespace

int fpsIndex(long long fps) {
    return indexOfTitle(fpsTitles, std::to_string(fps));
}

int bitrateIndex(long long mbps) {
    return indexOfTitle(bitrateTitles, std::to_string(mbps) + " Mbit/s");
}

int maxSizeIndex(long long pixels) {
    return pixels < 3000000 ? 0 : pixels < 6000000 ? 1 : 2;
}

int maxWidthIndex(long long width) {
    return width == 7680 ? 3 : width == 5120 ? 2 : width == 4096 ? 1 : 0;
}

long long fpsValue(int index) {
    if (index < 0 || index >= int(fpsTitles.size()))
        return 30;
    auto parsed = text::parseDecimal(fpsTitles[static_cast<size_t>(index)]);
    return parsed ? *parsed : 30;
}

long long bitrateValue(int index) {
    return clampedValue(bitrateValues, index);
}

long long maxSizeValue(int index) {
    return clampedValue(maxSizeValues, index);
}

long long maxWidthValue(int index) {
    return clampedValue(maxWidthValues, index);
}

double scaleValue(int slider) {
    return slider >= 100 ? 1.0 : slider / 100.0;
}

} // namespace corvane::app::ui::SettingsValues
