// The gnome backend when the compositor goes away mid-session, end to end:
// mutter is killed while a client is connected (as a crash would end it);
// the server says so, ends the client's session and stays up; with mutter
// started again on the same bus and runtime folder, a new client gets a
// picture.
#include <gtest/gtest.h>

#include "gnome_e2e_session.h"

using namespace e2e;

TEST(GnomeCompositorGone, TheSessionEndsCleanlyAndANewOneWorksWhenItIsBack) {
    GnomeSession s;
    ASSERT_NO_FATAL_FAILURE(connect(s));
    {
        Process window;
        ASSERT_TRUE(s.showWindow(window, 0x2E8B57, "before.log"));
        ASSERT_TRUE(s.shows(0x2E8B57, 512, 384, 30000ms));

        ASSERT_TRUE(s.gnome().killCompositor()) << "mutter is still on the bus";
        EXPECT_TRUE(s.serverSays("the desktop session was ended from outside", 20000ms));
        EXPECT_TRUE(s.serverSays("ending the clients' sessions", 20000ms));
        EXPECT_TRUE(s.client().waitExit(30000ms).has_value())
            << "the client is still connected to a desktop that is gone";
        // The window lost its compositor; it must not outlive the case.
        window.stop();
    }
    EXPECT_TRUE(s.server().running()) << "the server ended with the compositor";
    EXPECT_TRUE(portOpen(s.port()));

    ASSERT_TRUE(s.gnome().restartCompositor("1024x768")) << s.gnome().logTail();
    ASSERT_TRUE(s.startClient()) << "no client window after the compositor came back";
    Process window;
    ASSERT_TRUE(s.showWindow(window, 0xC04020, "after.log"));
    EXPECT_TRUE(s.shows(0xC04020, 512, 384, 30000ms));
    EXPECT_TRUE(s.shows(0xC04020, 1000, 740, 5000ms));
    EXPECT_TRUE(s.server().running());
}
