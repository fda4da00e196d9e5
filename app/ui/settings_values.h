// The value tables behind the settings window's pop-ups and the rules that
// map stored values to a selection and back. No widgets here.
#pragma once
#include <string>
#include <vector>

namespace corvane::app::ui::SettingsValues {

inline const std::vector<std::string> fpsTitles{"15", "24", "30", "60"};
inline const std::vector<std::string> bitrateTitles{"5 Mbit/s", "10 Mbit/s", "20 Mbit/s",
                                                    "40 Mbit/s"};
inline const std::vector<long long> bitrateValues{5, 10, 20, 40};
inline const std::vector<std::string> maxSizeTitles{"1080p (recommended)", "1440p", "4K"};
inline const std::vector<long long> maxSizeValues{2073600, 3686400, 8294400};
inline const std::vector<std::string> maxWidthTitles{"Automatic", "4096 px", "5120 px", "7680 px"};
inline const std::vector<long long> maxWidthValues{0, 4096, 5120, 7680};

// The selection for a stored value; -1 selects nothing.
int fpsIndex(long long fps);
int bitrateIndex(long long mbps);
int maxSizeIndex(long long pixels);
int maxWidthIndex(long long width);
// The stored value for a selection (an index out of range is clamped).
long long fpsValue(int index);
long long bitrateValue(int index);
long long maxSizeValue(int index);
long long maxWidthValue(int index);
// The stored scale for a slider position (25...100).
double scaleValue(int slider);

} // namespace corvane::app::ui::SettingsValues
