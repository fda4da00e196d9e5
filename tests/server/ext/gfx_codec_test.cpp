// The codec choice at a client's graphics capability exchange.
#include <freerdp/channels/rdpgfx.h>
#include <gtest/gtest.h>

#include "server/shadow/ext/gfx_codec.h"

namespace {

constexpr UINT32 kOff = RDPGFX_CAPS_FLAG_AVC_DISABLED;
constexpr UINT32 kSmall = RDPGFX_CAPS_FLAG_SMALL_CACHE;

struct Case {
    const char* what;
    UINT32 version, confirmed, advertised;
    BOOL libraryAvc444, libraryAvc420, serverAvc420, encoder;
    UINT32 flags;
    BOOL avc420;
};

} // namespace

TEST(GfxCodecChoice, Avc420WhereTheLibraryDroppedH264AndEverythingElseAsTheLibraryChose) {
    const Case cases[] = {
        {"10.7, AVC444 off", RDPGFX_CAPVERSION_107, kOff | kSmall, kSmall, FALSE, FALSE, TRUE, TRUE,
         kSmall, TRUE},
        {"10.0, AVC444 off", RDPGFX_CAPVERSION_10, kOff, 0, FALSE, FALSE, TRUE, TRUE, 0, TRUE},
        {"AVC444 agreed", RDPGFX_CAPVERSION_107, 0, 0, TRUE, FALSE, TRUE, TRUE, 0, FALSE},
        {"client without H.264", RDPGFX_CAPVERSION_107, kOff, kOff, FALSE, FALSE, TRUE, TRUE, kOff,
         FALSE},
        {"-gfx-avc420", RDPGFX_CAPVERSION_107, kOff, 0, FALSE, FALSE, FALSE, TRUE, kOff, FALSE},
        {"no encoder", RDPGFX_CAPVERSION_107, kOff, 0, FALSE, FALSE, TRUE, FALSE, kOff, FALSE},
        {"8.1 keeps its own flag", RDPGFX_CAPVERSION_81, 0, 0, FALSE, FALSE, TRUE, TRUE, 0, FALSE},
        {"8.1 with AVC420", RDPGFX_CAPVERSION_81, RDPGFX_CAPS_FLAG_AVC420_ENABLED,
         RDPGFX_CAPS_FLAG_AVC420_ENABLED, FALSE, TRUE, TRUE, TRUE, RDPGFX_CAPS_FLAG_AVC420_ENABLED,
         TRUE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ShadowExtGfxChoice choice =
            shadow_ext_gfx_choose(c.version, c.confirmed, c.advertised, c.libraryAvc444,
                                  c.libraryAvc420, c.serverAvc420, c.encoder);
        EXPECT_EQ(choice.flags, c.flags);
        EXPECT_EQ(choice.avc420, c.avc420);
    }
}
