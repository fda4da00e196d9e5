// Entry, record lifecycle and Init's sizing over the sim platform.
#include <cstdlib>
#include <cstring>
#include <malloc.h>

#include <gtest/gtest.h>

#include "server/shadow/Mac/mac_shadow.h"
#include "sim_fixture.h"

#include <dlfcn.h>

// FreeRDP's header declares the registration as returning nothing; ours
// answers whether it registered, so it is reached through its symbol.
static int setEntryBuiltin(const char* name) {
    using Fn = int (*)(const char*);
    static Fn fn = reinterpret_cast<Fn>(dlsym(RTLD_DEFAULT, "shadow_subsystem_set_entry_builtin"));
    return fn ? fn(name) : -100;
}

namespace {

struct EnvGuard {
    explicit EnvGuard(std::initializer_list<std::pair<const char*, const char*>> vars) {
        for (auto [name, value] : vars) {
            names.push_back(name);
            value ? setenv(name, value, 1) : unsetenv(name);
        }
    }
    ~EnvGuard() {
        for (const char* name : names)
            unsetenv(name);
    }
    std::vector<const char*> names;
};

struct Record {
    Record() : base(mac_shadow_subsystem_new()) {}
    ~Record() { mac_shadow_subsystem_free(base); }
    macShadowSubsystem* get() { return reinterpret_cast<macShadowSubsystem*>(base); }
    rdpShadowSubsystem* base;
};

} // namespace

class InitSizing : public SimPlatformTest {};

TEST_F(InitSizing, HiDpiMainDisplayDefaultsToPointSize) {
    sim().simDisplays().setMain(2880, 1800, 2.0);
    EnvGuard env{{"MAC_SHADOW_NATIVE", nullptr}, {"MAC_SHADOW_SCALE", nullptr}};
    Record r;
    ASSERT_EQ(mac_shadow_subsystem_init(r.base), 1);
    EXPECT_TRUE(r.get()->mainDisplayHiDPI);
    EXPECT_EQ(r.get()->desktopWidth, 1440);
    EXPECT_EQ(r.get()->desktopHeight, 900);
    EXPECT_EQ(r.get()->initialWidth, 1440);
    EXPECT_EQ(r.get()->mainPixelWidth, 2880);
    EXPECT_EQ(r.get()->mainPointsHeight, 900);
    EXPECT_EQ(r.base->numMonitors, 1u);
    EXPECT_EQ(r.base->monitors[0].right, 1439);
    EXPECT_EQ(r.base->monitors[0].bottom, 899);
    EXPECT_EQ(r.base->monitors[0].flags, 1u);
    EXPECT_EQ(r.get()->mappingCount, 1);
    EXPECT_EQ(r.get()->captureRect.width, 1440);
    EXPECT_EQ(mac_shadow_record(), r.get());
}

// An ignored scale leaves NATIVE in charge.
TEST_F(InitSizing, NativeAndScaleOnHiDpi) {
    sim().simDisplays().setMain(2880, 1800, 2.0);
    const struct {
        const char* scale;
        int32_t width, height;
        double pointsPerPixel; // 0: not looked at
    } cases[] = {{nullptr, 2880, 1800, 0.5}, {"0.75", 2160, 1350, 0}, {"0.1", 2880, 1800, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scale ? c.scale : "no scale");
        EnvGuard env{{"MAC_SHADOW_NATIVE", "1"}, {"MAC_SHADOW_SCALE", c.scale}};
        Record r;
        ASSERT_EQ(mac_shadow_subsystem_init(r.base), 1);
        EXPECT_EQ(r.get()->desktopWidth, c.width);
        EXPECT_EQ(r.get()->desktopHeight, c.height);
        if (c.pointsPerPixel) {
            EXPECT_DOUBLE_EQ(r.get()->mappings[0].pointsPerPixel, c.pointsPerPixel);
        }
    }
}

// Init takes its rates from the environment (the parsers' own rules are in
// env_rules_test.cpp).
TEST_F(InitSizing, RatesFromEnvironmentOrDefaults) {
    {
        EnvGuard env{{"MAC_SHADOW_FPS", "1"},
                     {"MAC_SHADOW_ADAPTIVE_FPS", "0"},
                     {"MAC_SHADOW_IDLE_AWAKE_MIN", "240"}};
        Record r;
        ASSERT_EQ(mac_shadow_subsystem_init(r.base), 1);
        EXPECT_EQ(r.get()->fps, 1);
        EXPECT_EQ(r.get()->targetFps, 1);
        EXPECT_EQ(r.get()->captureFps, 1);
        EXPECT_FALSE(r.get()->adaptiveFps);
        EXPECT_EQ(r.get()->idleAwakeMs, 14400000u);
    }
    {
        Record r; // one record at a time, as in the server
        ASSERT_EQ(mac_shadow_subsystem_init(r.base), 1);
        EXPECT_EQ(r.get()->fps, 30);
        EXPECT_EQ(r.get()->targetFps, 2);
        EXPECT_TRUE(r.get()->adaptiveFps);
        EXPECT_EQ(r.get()->idleAwakeMs, 900000u);
    }
    sim().simDisplays().setAvailable(false);
    Record unmeasurable;
    EXPECT_EQ(mac_shadow_subsystem_init(unmeasurable.base), -1);
}

TEST_F(InitSizing, EnumMonitorsReportsTheSharedSize) {
    sim().simDisplays().setMain(2880, 1800, 2.0);
    EnvGuard env{{"MAC_SHADOW_SCALE", "0.5"}};
    MONITOR_DEF monitors[16] = {};
    ASSERT_EQ(mac_shadow_enum_monitors(monitors, 16), 1u);
    EXPECT_EQ(monitors[0].right, 1439);
    EXPECT_EQ(monitors[0].bottom, 899);
    EXPECT_EQ(monitors[0].flags, 1u);
}

class EntryRegistration : public SimPlatformTest {};

// Only "Mac" (or no name) registers our entry; the library then sizes the
// desktop through it.
TEST_F(EntryRegistration, MacOrNoNameRegistersOurEntryOtherNamesNothing) {
    EXPECT_NE(setEntryBuiltin("X11"), 0);
    EXPECT_NE(setEntryBuiltin("mac"), 0);
    MONITOR_DEF monitors[16] = {};
    EXPECT_EQ(shadow_enum_monitors(monitors, 16), 0u) << "no entry may be registered";
    sim().simDisplays().setMain(1280, 800, 1.0);
    EXPECT_EQ(setEntryBuiltin("Mac"), 0);
    ASSERT_EQ(shadow_enum_monitors(monitors, 16), 1u);
    EXPECT_EQ(monitors[0].right, 1279);
    EXPECT_STREQ(ShadowSubsystemName(), "Mac");
}

namespace {
size_t heapInUse() {
    return mallinfo2().uordblks;
}

#if defined(__has_feature)
#define CORVANE_HAS_FEATURE(x) __has_feature(x)
#else
#define CORVANE_HAS_FEATURE(x) 0
#endif
// A sanitizer keeps a heap of its own; under AddressSanitizer its leak check
// catches a block left behind instead.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) ||                               \
    CORVANE_HAS_FEATURE(address_sanitizer) || CORVANE_HAS_FEATURE(thread_sanitizer)
constexpr bool kHeapCountersReal = false;
#else
constexpr bool kHeapCountersReal = true;
#endif
} // namespace

// The pointer message's two masks and the sound message's samples go with
// the message.
TEST(MessageFree, MessagesReleaseWhatTheyCarry) {
    for (const UINT32 id :
         {SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE_ID, SHADOW_MSG_OUT_AUDIO_OUT_SAMPLES_ID}) {
        const size_t before = heapInUse();
        SHADOW_MSG_OUT* common = nullptr;
        if (id == SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE_ID) {
            auto* msg = static_cast<SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE*>(
                std::calloc(1, sizeof(SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE)));
            msg->xorMaskData = static_cast<BYTE*>(std::malloc(4096));
            msg->andMaskData = static_cast<BYTE*>(std::malloc(4096));
            common = &msg->common;
        } else {
            auto* msg = static_cast<SHADOW_MSG_OUT_AUDIO_OUT_SAMPLES*>(
                std::calloc(1, sizeof(SHADOW_MSG_OUT_AUDIO_OUT_SAMPLES)));
            msg->buf = std::malloc(8192);
            common = &msg->common;
        }
        const size_t allocated = heapInUse();
        mac_shadow_message_free(id, common);
        if (kHeapCountersReal) {
            ASSERT_GT(allocated, before + 8000) << id;
            EXPECT_GE(allocated - heapInUse(), 8192u) << id;
        }
    }
}
