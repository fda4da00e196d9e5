// The colour list shared by the workload and the watcher: "rrggbb,rrggbb,...".
#pragma once
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

inline std::vector<uint32_t> parsePalette(const std::string& all) {
    std::vector<uint32_t> colours;
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(',', start);
        if (end == std::string::npos)
            end = all.size();
        const std::string item = all.substr(start, end - start);
        if (!item.empty())
            colours.push_back(uint32_t(std::strtoul(item.c_str(), nullptr, 16)) & 0xffffffu);
        start = end + 1;
    }
    return colours;
}
