// The gate of the extension layer's hooks: which hook runs on which library
// version, and the two variables that switch hooks off or try them.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "server/shadow/ext/hook_gate.h"

namespace {

constexpr const char* kVerified = "3.10.3"; // a version every hook was verified on
constexpr const char* kUnknown = "9.9.9";   // one no hook was verified on

struct GateCase {
    const char* version;
    const char* off;
    const char* tried;
    ShadowExtHook hook;
    ShadowExtVerdict expected;
};

TEST(HookGate, VerdictsFollowTheVersionTableAndTheVariables) {
    const GateCase cases[] = {
        {kVerified, nullptr, nullptr, SHADOW_EXT_CHANGED_REGION, SHADOW_EXT_ON},
        {kUnknown, nullptr, nullptr, SHADOW_EXT_CHANGED_REGION, SHADOW_EXT_OFF_UNVERIFIED},
        // A version is matched whole: neither a prefix nor an empty one.
        {"3.10", nullptr, nullptr, SHADOW_EXT_GFX_CODEC, SHADOW_EXT_OFF_UNVERIFIED},
        {"3.10.30", nullptr, nullptr, SHADOW_EXT_GFX_CODEC, SHADOW_EXT_OFF_UNVERIFIED},
        {"", nullptr, nullptr, SHADOW_EXT_GFX_CODEC, SHADOW_EXT_OFF_UNVERIFIED},
        // Switched off by name, among others and with spaces, or all at once.
        {kVerified, "gfx-codec", nullptr, SHADOW_EXT_GFX_CODEC, SHADOW_EXT_OFF_REQUESTED},
        {kVerified, "clipboard, changed-region", nullptr, SHADOW_EXT_CHANGED_REGION,
         SHADOW_EXT_OFF_REQUESTED},
        {kVerified, "all", nullptr, SHADOW_EXT_SCREEN_RESIZE, SHADOW_EXT_OFF_REQUESTED},
        // A name is matched whole.
        {kVerified, "peer", nullptr, SHADOW_EXT_PEER_HOOKS, SHADOW_EXT_ON},
        {kVerified, "changed-region-x", nullptr, SHADOW_EXT_CHANGED_REGION, SHADOW_EXT_ON},
        // Tried on an unverified version; switching off wins over trying.
        {kUnknown, nullptr, "changed-region", SHADOW_EXT_CHANGED_REGION, SHADOW_EXT_TRIED},
        {kUnknown, nullptr, "all", SHADOW_EXT_DISPLAY_CONTROL, SHADOW_EXT_TRIED},
        {kUnknown, "all", "all", SHADOW_EXT_DISPLAY_CONTROL, SHADOW_EXT_OFF_REQUESTED},
        {kVerified, nullptr, "changed-region", SHADOW_EXT_CHANGED_REGION, SHADOW_EXT_ON},
        // The handshake and the sound formats live inside the peer hooks.
        {kVerified, "peer-hooks", nullptr, SHADOW_EXT_LOGIN_HANDSHAKE, SHADOW_EXT_OFF_NEEDS},
        {kUnknown, nullptr, "sound-formats", SHADOW_EXT_SOUND_FORMATS, SHADOW_EXT_OFF_NEEDS},
        {kUnknown, nullptr, "sound-formats,peer-hooks", SHADOW_EXT_SOUND_FORMATS,
         SHADOW_EXT_TRIED},
        {kVerified, "login-handshake", nullptr, SHADOW_EXT_PEER_HOOKS, SHADOW_EXT_ON},
    };
    for (const GateCase& c : cases) {
        ShadowExtVerdict out[SHADOW_EXT_HOOK_COUNT];
        shadow_ext_hook_verdicts(c.version, c.off, c.tried, out);
        EXPECT_EQ(out[c.hook], c.expected)
            << shadow_ext_hook_name(c.hook) << " on " << c.version << ", off="
            << (c.off ? c.off : "-") << ", try=" << (c.tried ? c.tried : "-");
    }
}

// A misspelt hook in the version table would leave the real hook with no
// verified version at all.
TEST(HookGate, EveryHookHasVerifiedVersionsUnderItsOwnName) {
    // Hooks kept off everywhere on purpose (none now); any other hook without
    // versions is listed under a name the gate does not know.
    const std::set<std::string> offEverywhere = {};
    for (int h = 0; h < SHADOW_EXT_HOOK_COUNT; ++h) {
        const auto hook = static_cast<ShadowExtHook>(h);
        const std::string name = shadow_ext_hook_name(hook);
        EXPECT_EQ(std::string(shadow_ext_hook_verified_on(hook)).empty(),
                  offEverywhere.count(name) == 1)
            << name;
    }
    EXPECT_STREQ(shadow_ext_hook_name(SHADOW_EXT_HOOK_COUNT), "unknown");
}

} // namespace
