#include "env.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace mac_env {

bool firstIs(const char* value, char c) {
    return value && value[0] == c;
}

int64_t leadingInt(const char* value) {
    if (!value)
        return 0;
    const char* p = value;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = (*p++ == '-');
    if (!std::isdigit(static_cast<unsigned char>(*p)))
        return 0;
    // Accumulated as a magnitude so that the most negative value fits too;
    // the check comes before each digit, the last one included.
    const uint64_t limit = negative ? uint64_t{1} << 63 : uint64_t{INT64_MAX};
    uint64_t magnitude = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        const auto digit = static_cast<uint64_t>(*p - '0');
        if (magnitude > (limit - digit) / 10)
            return negative ? INT64_MIN : INT64_MAX;
        magnitude = magnitude * 10 + digit;
    }
    if (!negative)
        return static_cast<int64_t>(magnitude);
    return magnitude == limit ? INT64_MIN : -static_cast<int64_t>(magnitude);
}

double leadingDouble(const char* value) {
    if (!value)
        return 0;
    const char* p = value;
    double sign = 1;
    if (*p == '+' || *p == '-')
        sign = (*p++ == '-') ? -1 : 1;
    double result = 0;
    bool digits = false;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p, digits = true)
        result = result * 10 + (*p - '0');
    if (*p == '.') {
        double place = 0.1;
        for (++p; std::isdigit(static_cast<unsigned char>(*p)); ++p, place /= 10, digits = true)
            result += (*p - '0') * place;
    }
    return digits ? sign * result : 0;
}

int32_t fpsFrom(const char* value) {
    const int64_t fps = value ? leadingInt(value) : 30;
    return fps >= 1 && fps <= 60 ? static_cast<int32_t>(fps) : 30;
}

bool adaptiveFpsFrom(const char* value) {
    return !firstIs(value, '0');
}

uint64_t idleAwakeMsFrom(const char* value) {
    int64_t minutes = leadingInt(value);
    if (minutes < 1 || minutes > 240)
        minutes = 15;
    return static_cast<uint64_t>(minutes) * 60000u;
}

bool nativeFrom(const char* value) {
    return firstIs(value, '1');
}

double scaleFrom(const char* value) {
    if (!value)
        return 0;
    const double s = leadingDouble(value);
    return s >= 0.25 && s <= 1.0 ? s : 0;
}

bool audioFrom(const char* value) {
    return !firstIs(value, '0');
}
bool parentWatchFrom(const char* value) {
    return firstIs(value, '1');
}
bool mirrorFrom(const char* value) {
    return !(value && std::strcmp(value, "0") == 0);
}
bool ctrlAsCmdFrom(const char* value) {
    return !firstIs(value, '0');
}
bool cursorFrom(const char* value) {
    return !firstIs(value, '0');
}

bool permsProbeFrom(const char* value) {
    return value && value[0] != '\0';
}

const char* raw(const char* name) {
    return std::getenv(name);
}
int32_t fps() {
    return fpsFrom(raw("MAC_SHADOW_FPS"));
}
bool adaptiveFps() {
    return adaptiveFpsFrom(raw("MAC_SHADOW_ADAPTIVE_FPS"));
}
uint64_t idleAwakeMs() {
    return idleAwakeMsFrom(raw("MAC_SHADOW_IDLE_AWAKE_MIN"));
}
bool native() {
    return nativeFrom(raw("MAC_SHADOW_NATIVE"));
}
double scale() {
    return scaleFrom(raw("MAC_SHADOW_SCALE"));
}
bool audio() {
    return audioFrom(raw("MAC_SHADOW_AUDIO"));
}
bool parentWatch() {
    return parentWatchFrom(raw("MAC_SHADOW_PARENT_WATCH"));
}
bool mirror() {
    return mirrorFrom(raw("MAC_SHADOW_MIRROR"));
}
bool ctrlAsCmd() {
    return ctrlAsCmdFrom(raw("MAC_SHADOW_CTRL_AS_CMD"));
}
bool cursor() {
    return cursorFrom(raw("MAC_SHADOW_CURSOR"));
}

} // namespace mac_env
