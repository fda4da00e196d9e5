// What the application reads from the server's permission probe run: any
// output, of which only a last line "screen=%d input=%d" counts.
#include <cstdlib>
#include <string>

#include "app/core/perm_logic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string output(reinterpret_cast<const char*>(data), size);
    const auto status = corvane::app::parsePermProbe(output);
    if (!status)
        return 0;
    // An answer is only ever read from words the output holds.
    const std::string screen = status->screen ? "screen=1" : "screen=0";
    const std::string input = status->input ? "input=1" : "input=0";
    if (output.find(screen) == std::string::npos || output.find(input) == std::string::npos)
        std::abort();
    corvane::app::permSummary(status, false);
    return 0;
}
