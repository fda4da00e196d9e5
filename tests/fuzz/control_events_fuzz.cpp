// The application's reading of the server's control channel: any lines,
// however broken, leave a model whose sessions and prompts are each listed
// at most once.
#include <set>
#include <string_view>

#include "app/core/control_client.h"

using namespace corvane::app;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ControlSessions model;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    int64_t now = 1000;
    while (!rest.empty()) {
        const size_t nl = rest.find('\n');
        model.apply(rest.substr(0, nl), now++);
        rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    }
    std::set<uint64_t> sessions, prompts;
    for (const ControlSession& s : model.sessions())
        if (!sessions.insert(s.id).second)
            __builtin_trap();
    for (const ControlPrompt& p : model.prompts())
        if (!prompts.insert(p.id).second || p.timeoutSeconds < 0)
            __builtin_trap();
    return 0;
}
