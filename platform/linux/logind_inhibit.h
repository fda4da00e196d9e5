// logind inhibitor locks over the system bus, for every backend that keeps a
// Linux machine awake.
#pragma once
#include <string_view>

namespace corvane::platform::linuxos {

// Takes a logind inhibitor lock ("idle", "sleep", ...); its descriptor, or
// -1 when logind cannot be reached. Closing the descriptor releases it.
int logindInhibit(const char* what, std::string_view why);

} // namespace corvane::platform::linuxos
