#include "link_model.h"

#include <cstdlib>
#include <cstring>

namespace {
// The number at the start of `text` and where its unit begins; false when
// there is no number.
bool leadingNumber(const char* text, double* value, const char** unit) {
    if (!text || !*text)
        return false;
    char* end = nullptr;
    *value = std::strtod(text, &end);
    if (end == text || *value < 0)
        return false;
    *unit = end;
    return true;
}
} // namespace

uint64_t parseRate(const char* text) {
    double value = 0;
    const char* unit = nullptr;
    if (!leadingNumber(text, &value, &unit))
        return 0;
    struct Unit {
        const char* name;
        double bits;
    } const units[] = {{"", 1}, {"bit", 1}, {"kbit", 1e3}, {"mbit", 1e6}, {"gbit", 1e9}};
    for (const Unit& u : units)
        if (std::strcmp(unit, u.name) == 0)
            return static_cast<uint64_t>(value * u.bits);
    return 0;
}

bool parseDuration(const char* text, uint64_t* us) {
    double value = 0;
    const char* unit = nullptr;
    if (!leadingNumber(text, &value, &unit))
        return false;
    struct Unit {
        const char* name;
        double us;
    } const units[] = {{"us", 1}, {"ms", 1e3}, {"s", 1e6}};
    for (const Unit& u : units)
        if (std::strcmp(unit, u.name) == 0) {
            *us = static_cast<uint64_t>(value * u.us);
            return true;
        }
    return false;
}
