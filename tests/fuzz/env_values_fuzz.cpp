// The server's MAC_SHADOW_* values: every rule keeps its documented range
// and the leading-number parser saturates instead of overflowing.
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "base/env.h"
#include "server/shadow/Mac/logic/mac_logic.h"

namespace {

// The leading integer computed wide enough that it cannot overflow.
int64_t referenceLeadingInt(const char* p) {
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    __int128 value = 0;
    const __int128 cap = static_cast<__int128>(std::numeric_limits<int64_t>::max()) + 1;
    for (; *p >= '0' && *p <= '9'; ++p)
        value = value * 10 + (*p - '0') > cap ? cap : value * 10 + (*p - '0');
    if (negative)
        return static_cast<int64_t>(-value);
    return value >= cap ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* v = text.c_str();

    if (mac_env::leadingInt(v) != referenceLeadingInt(v))
        std::abort();
    const int32_t fps = mac_env::fpsFrom(v);
    if (fps < 1 || fps > 60)
        std::abort();
    const uint64_t idle = mac_env::idleAwakeMsFrom(v);
    if (idle < 60000 || idle > 240 * 60000 || idle % 60000)
        std::abort();
    const double scale = mac_env::scaleFrom(v);
    if (scale != 0 && !(scale >= 0.25 && scale <= 1.0))
        std::abort();
    const double number = mac_env::leadingDouble(v);
    if (number != number)
        std::abort(); // digits never make a NaN
    const int32_t mode = mac_logic_virtual_mode(v);
    if (mode != MAC_VIRTUAL_AUTO && mode != MAC_VIRTUAL_NEVER && mode != MAC_VIRTUAL_ALWAYS)
        std::abort();
    return 0;
}
