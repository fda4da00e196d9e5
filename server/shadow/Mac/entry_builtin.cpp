// Registration with the shadow server. FreeRDP's header declares
// shadow_subsystem_set_entry_builtin as returning nothing; ours answers
// whether the name was ours, which is ABI-compatible with that declaration,
// so this file declares what it needs itself instead of including it.
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
