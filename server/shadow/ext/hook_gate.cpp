#include "hook_gate.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include <freerdp/freerdp.h>
#include <freerdp/log.h>

#include "base/env.h"

#define TAG SERVER_TAG("shadow.ext")

namespace {

struct VerifiedEntry {
    const char* hook;
    const char* versions;
};
// Generated at configure time from verified_versions.txt.
constexpr VerifiedEntry kVerified[] = {
#include "hook_versions.inc"
};

constexpr const char* kNames[SHADOW_EXT_HOOK_COUNT] = {
    "peer-hooks", "login-handshake", "sound-formats", "clipboard",     "display-control",
    "h264-tuning", "gfx-codec",      "changed-region", "screen-resize",   "planar-check",
    "frame-pacing", "scroll-copy", "ack-guard"};

// The hook a hook stands on (its code runs inside that one's wrappers).
constexpr int kStandsOn[SHADOW_EXT_HOOK_COUNT] = {
    -1, SHADOW_EXT_PEER_HOOKS, SHADOW_EXT_PEER_HOOKS, -1, -1, -1, -1, -1, -1, -1, -1,
    SHADOW_EXT_CHANGED_REGION, -1};

// Whether `word` is one of the tokens of `list`, separated by any of `seps`.
bool hasToken(const char* list, const char* word, const char* seps) {
    if (!list || !word)
        return false;
    const size_t length = std::strlen(word);
    for (const char* p = list; *p;) {
        p += std::strspn(p, seps);
        const size_t token = std::strcspn(p, seps);
        if (token == length && std::strncmp(p, word, length) == 0)
            return true;
        p += token;
    }
    return false;
}

bool named(const char* list, ShadowExtHook hook) {
    return hasToken(list, "all", ", ") || hasToken(list, kNames[hook], ", ");
}

bool isOn(ShadowExtVerdict v) {
    return v == SHADOW_EXT_ON || v == SHADOW_EXT_TRIED;
}

ShadowExtVerdict verdictFor(ShadowExtHook hook, const char* version, const char* offList,
                            const char* tryList) {
    if (named(offList, hook))
        return SHADOW_EXT_OFF_REQUESTED;
    if (version && *version && hasToken(shadow_ext_hook_verified_on(hook), version, " \t"))
        return SHADOW_EXT_ON;
    return named(tryList, hook) ? SHADOW_EXT_TRIED : SHADOW_EXT_OFF_UNVERIFIED;
}

struct Decision {
    char version[32] = "";
    ShadowExtVerdict verdicts[SHADOW_EXT_HOOK_COUNT] = {};
};

Decision decideNow() {
    Decision d;
    int major = 0, minor = 0, revision = 0;
    freerdp_get_version(&major, &minor, &revision);
    std::snprintf(d.version, sizeof d.version, "%d.%d.%d", major, minor, revision);
    shadow_ext_hook_verdicts(d.version, mac_env::raw("MAC_SHADOW_EXT_OFF"),
                             mac_env::raw("MAC_SHADOW_EXT_TRY"), d.verdicts);
    return d;
}

const Decision& decision() {
    static const Decision d = decideNow();
    return d;
}

std::atomic<bool> gForcedOn{false};

void logDecision(const Decision& d) {
    std::string on;
    for (int h = 0; h < SHADOW_EXT_HOOK_COUNT; ++h) {
        const char* name = kNames[h];
        switch (d.verdicts[h]) {
        case SHADOW_EXT_ON:
            on += on.empty() ? name : std::string(", ") + name;
            break;
        case SHADOW_EXT_TRIED:
            WLog_WARN(TAG, "extension %s runs on FreeRDP %s, where it was not verified "
                           "(MAC_SHADOW_EXT_TRY)", name, d.version);
            break;
        case SHADOW_EXT_OFF_UNVERIFIED: {
            const char* verified = shadow_ext_hook_verified_on(static_cast<ShadowExtHook>(h));
            WLog_WARN(TAG, "extension %s is off: not verified on FreeRDP %s (verified on %s)",
                      name, d.version, *verified ? verified : "no version");
            break;
        }
        case SHADOW_EXT_OFF_REQUESTED:
            WLog_INFO(TAG, "extension %s is off: switched off by MAC_SHADOW_EXT_OFF", name);
            break;
        case SHADOW_EXT_OFF_NEEDS:
            WLog_WARN(TAG, "extension %s is off: it needs %s, which is off", name,
                      kNames[kStandsOn[h]]);
            break;
        }
    }
    WLog_INFO(TAG, "extensions on with FreeRDP %s: %s", d.version, on.empty() ? "none" : on.c_str());
}

} // namespace

extern "C" const char* shadow_ext_hook_name(ShadowExtHook hook) {
    return hook >= 0 && hook < SHADOW_EXT_HOOK_COUNT ? kNames[hook] : "unknown";
}

extern "C" const char* shadow_ext_hook_verified_on(ShadowExtHook hook) {
    for (const VerifiedEntry& entry : kVerified)
        if (std::strcmp(entry.hook, shadow_ext_hook_name(hook)) == 0)
            return entry.versions;
    return "";
}

extern "C" void shadow_ext_hook_verdicts(const char* version, const char* offList,
                                         const char* tryList,
                                         ShadowExtVerdict out[SHADOW_EXT_HOOK_COUNT]) {
    for (int h = 0; h < SHADOW_EXT_HOOK_COUNT; ++h)
        out[h] = verdictFor(static_cast<ShadowExtHook>(h), version, offList, tryList);
    for (int h = 0; h < SHADOW_EXT_HOOK_COUNT; ++h) {
        const int base = kStandsOn[h];
        if (base >= 0 && isOn(out[h]) && !isOn(out[base]))
            out[h] = SHADOW_EXT_OFF_NEEDS;
    }
}

extern "C" void shadow_ext_hooks_decide(void) {
    logDecision(decision());
}

extern "C" BOOL shadow_ext_hook_on(ShadowExtHook hook) {
    if (hook < 0 || hook >= SHADOW_EXT_HOOK_COUNT)
        return FALSE;
    if (gForcedOn.load())
        return TRUE;
    return isOn(decision().verdicts[hook]);
}

extern "C" BOOL shadow_ext_hook_unverified(ShadowExtHook hook) {
    if (hook < 0 || hook >= SHADOW_EXT_HOOK_COUNT)
        return FALSE;
    const Decision& d = decision();
    const ShadowExtVerdict v = d.verdicts[hook];
    if (v == SHADOW_EXT_OFF_NEEDS)
        return d.verdicts[kStandsOn[hook]] == SHADOW_EXT_OFF_UNVERIFIED;
    return v == SHADOW_EXT_OFF_UNVERIFIED;
}

extern "C" void shadow_ext_hooks_force_on_for_tests(BOOL on) {
    gForcedOn.store(on != FALSE);
}
