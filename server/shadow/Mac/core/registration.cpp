// How the server finds us and hears us. Registration: FreeRDP's header declares
// shadow_subsystem_set_entry_builtin as returning nothing; ours answers
// whether the name was ours, which is ABI-compatible with that declaration,
// so this file declares what it needs itself instead of including it.
#include <cstdio>
#include <cstring>

struct S_RDP_SHADOW_ENTRY_POINTS;
typedef int (*MacEntryFn)(S_RDP_SHADOW_ENTRY_POINTS*);

extern "C" {
void shadow_subsystem_set_entry(MacEntryFn entry);
int ShadowSubsystemEntry(S_RDP_SHADOW_ENTRY_POINTS* pEntryPoints);

// Registers our entry for the name "Mac" (or no name) and answers 0; for any
// other name registers nothing and answers 1.
int shadow_subsystem_set_entry_builtin(const char* name) {
    if (name && std::strcmp(name, "Mac") != 0)
        return 1;
    shadow_subsystem_set_entry(ShadowSubsystemEntry);
    return 0;
}
}

// The application reads the server's output through a pipe and must see
// every line at once, so output buffering is set as soon as we are loaded.
extern "C" __attribute__((constructor)) void mac_shadow_line_buffered_output(void) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
}
