// Which backend the factory picks from what the process sees.
#include <gtest/gtest.h>

#include "platform/backend_choice.h"

using corvane::platform::BackendInputs;
using corvane::platform::chooseBackend;

TEST(BackendChoice, FromTheEnvironmentAndTheSessionBus) {
    struct Case {
        const char* what;
        BackendInputs in;
        const char* name; // "" = an error at start
        const char* because;
    };
    // wanted, XDG_SESSION_TYPE, WAYLAND_DISPLAY, DISPLAY, ScreenCast on the bus, gnome built
    const Case cases[] = {
        // The override wins, and is taken as it stands (the factory checks it).
        {"override", {"x11", "wayland", "wayland-0", ":0", true, true}, "x11", "CORVANE_PLATFORM"},
        {"odd override", {"x1l", "", "", ":0", false, false}, "x1l", "CORVANE_PLATFORM"},
        {"GNOME by the session type", {"", "wayland", "", ":0", true, true}, "gnome", "ScreenCast"},
        {"GNOME by the socket", {"", "", "wayland-0", "", true, true}, "gnome", "ScreenCast"},
        // Another compositor: Wayland without mutter's screen cast.
        {"other Wayland", {"", "wayland", "wayland-0", ":0", false, true}, "x11", "DISPLAY is :0"},
        {"bus name on X11", {"", "x11", "", ":1", true, true}, "x11", "DISPLAY is :1"},
        // GNOME Wayland but no gnome backend built: Xwayland if it is there.
        {"no backend", {"", "wayland", "wayland-0", ":0", true, false}, "x11", "no gnome backend"},
        {"no backend, no X", {"", "wayland", "wayland-0", "", true, false}, "", "no gnome backend"},
        {"nothing at all", {"", "tty", "", "", false, true}, "", "DISPLAY is not set"},
    };
    for (const Case& c : cases) {
        const auto choice = chooseBackend(c.in);
        EXPECT_EQ(choice.name, c.name) << c.what;
        EXPECT_NE(choice.why.find(c.because), std::string::npos) << c.what << ": " << choice.why;
    }
}

TEST(BackendChoice, TheErrorNamesWhatWasLookedFor) {
    const auto choice = chooseBackend({"", "tty", "", "", false, true});
    for (const char* looked : {"CORVANE_PLATFORM", "XDG_SESSION_TYPE 'tty'",
                               "WAYLAND_DISPLAY unset", "org.gnome.Mutter.ScreenCast", "DISPLAY"})
        EXPECT_NE(choice.why.find(looked), std::string::npos) << looked << " in: " << choice.why;
}
