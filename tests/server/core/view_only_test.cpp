// A desktop that takes no input: said once at start, every client is
// view-only, and its input is dropped without a line per event.
#include <gtest/gtest.h>

#include <freerdp/input.h>

#include "core_fixture.h"
#include "server/shadow/Mac/core/lifecycle.h"
#include "server/shadow/Mac/input/input.h"
#include "server/shadow/Mac/layout/layout_request.h"

namespace {

class ViewOnly : public CoreTest {
  protected:
    rdpShadowClient* connected() {
        rdpShadowClient* c = addClient(false);
        c->server = server();
        c->mayInteract = TRUE; // the library's default
        EXPECT_TRUE(mac_shadow_client_connect(&record()->common.base, c));
        c->activated = TRUE;
        return c;
    }
    // A key, a character and a click; true when every callback accepted it.
    bool sendInput(rdpShadowClient* c) {
        rdpShadowSubsystem* base = &record()->common.base;
        return mac_shadow_input_keyboard_event(base, c, 0, 0x1e) &&
               mac_shadow_input_unicode_keyboard_event(base, c, 0, 'a') &&
               mac_shadow_input_mouse_event(base, c, PTR_FLAGS_BUTTON1 | PTR_FLAGS_DOWN, 10, 10);
    }
};

TEST_F(ViewOnly, ADesktopWithoutInputMakesEveryClientViewOnly) {
    sim().simEvents().setInputAvailable(false);
    mac_shadow_check_input_available(record());
    EXPECT_EQ(LogLines::count("takes no keyboard or mouse input from the server: every client is "
                              "view-only"),
              1u);
    rdpShadowClient* c = connected();
    EXPECT_FALSE(c->mayInteract) << "the library drops the client's input itself";
    LogLines::clear();
    EXPECT_TRUE(sendInput(c)) << "dropped, not refused";
    EXPECT_TRUE(sim().simEvents().posted().empty());
    const auto lines = LogLines::take();
    EXPECT_TRUE(lines.empty()) << "no line per dropped event: " << lines.front();
}

TEST_F(ViewOnly, ADesktopWithInputTakesIt) {
    mac_shadow_check_input_available(record());
    EXPECT_EQ(LogLines::count("view-only"), 0u);
    rdpShadowClient* c = connected();
    EXPECT_TRUE(c->mayInteract);
    EXPECT_TRUE(sendInput(c));
    EXPECT_EQ(sim().simEvents().posted().size(), 3u) << "the key, the character and the click";
}

} // namespace
