// What the gnome backend shares besides the picture, end to end: the
// clipboard both ways (text and a PNG picture; wl-copy/wl-paste on the
// desktop, xclip on the client's display) and the desktop's sound (a tone
// played through PipeWire's PulseAudio service, heard on the client's own
// PulseAudio daemon).
#include <gtest/gtest.h>

#include "../sound/pulse_daemon.h"
#include "gnome_e2e_session.h"
#include "tone.h"

using namespace e2e;

namespace {

// The desktop's clipboard in the given type, or nothing.
std::optional<std::string> desktopPaste(const GnomeSession& s, const std::string& type) {
    std::string out;
    if (run({"wl-paste", "--no-newline", "--type", type}, s.desktopEnv(), 5000ms, &out) !=
        std::optional<int>(0))
        return std::nullopt;
    return out;
}
// Serves a file on the desktop's clipboard (wl-copy in the foreground holds
// it until another program takes the clipboard).
bool desktopCopy(Process& holder, const GnomeSession& s, const std::string& file,
                 const std::string& type) {
    return holder.start(
        {"sh", "-c", "exec wl-copy --foreground --type \"$0\" < \"$1\"", type, file},
        s.desktopEnv(), s.dir().file("wl-copy.log"), s.dir().file("wl-copy.log"));
}

bool isPng(const std::optional<std::string>& data) {
    return data && data->size() > 8 && data->compare(1, 3, "PNG") == 0;
}

struct TextCase {
    const char* name;
    bool fromDesktop;
    const char* text;
};

} // namespace

// Text both ways, with characters outside ASCII; each direction is its own
// copy on one side and paste on the other.
TEST(GnomeClipboard, TextReachesTheOtherSideBothWays) {
    GnomeSession s;
    ASSERT_NO_FATAL_FAILURE(connect(s, {{"MAC_SHADOW_CLIPBOARD", "1"}}, {"+clipboard"}));
    E2E_SKIP_IF_HOOK_UNVERIFIED(s, "clipboard");
    ASSERT_TRUE(s.serverSays("client ready", 30000ms));
    const TextCase cases[] = {
        {"desktop to client", true, "Grüße vom Wayland-Schreibtisch ✓ – 東京"},
        {"client to desktop", false, "Ça va? ½ € — Привет"},
        {"desktop to client again", true, "second copy on the desktop"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = s.dir().file("text.txt");
        ASSERT_TRUE(writeFile(file, c.text));
        Process holder;
        if (c.fromDesktop) {
            ASSERT_TRUE(desktopCopy(holder, s, file, "text/plain;charset=utf-8"));
            EXPECT_TRUE(waitUntil(
                [&] { return clipboardPaste(s.clientDisplay(), "UTF8_STRING") == c.text; }, 15000ms,
                300ms))
                << "the client pastes '"
                << clipboardPaste(s.clientDisplay(), "UTF8_STRING").value_or("(nothing)") << "'";
        } else {
            ASSERT_TRUE(clipboardCopy(holder, s.clientDisplay(), file, "UTF8_STRING", s.dir()));
            EXPECT_TRUE(
                waitUntil([&] { return desktopPaste(s, "text/plain;charset=utf-8") == c.text; },
                          15000ms, 300ms))
                << "the desktop pastes '"
                << desktopPaste(s, "text/plain;charset=utf-8").value_or("(nothing)") << "'";
        }
    }
}

// A PNG picture both ways, pixel for pixel. The FreeRDP client takes
// pictures from X programs only as BMP (it announces them as CF_DIB), so on
// the client's side the picture is copied in that form.
TEST(GnomeClipboard, APictureReachesTheOtherSideBothWays) {
    GnomeSession s;
    ASSERT_NO_FATAL_FAILURE(connect(s, {{"MAC_SHADOW_CLIPBOARD", "1"}}, {"+clipboard"}));
    E2E_SKIP_IF_HOOK_UNVERIFIED(s, "clipboard");
    ASSERT_TRUE(s.serverSays("client ready", 30000ms));
    const std::string sent = s.dir().file("sent.png");
    ASSERT_TRUE(makePicture({"-size", "67x41", "gradient:#ff2000-#0030c0", "-depth", "8"},
                            "PNG24:" + sent));

    {
        SCOPED_TRACE("client to desktop");
        ASSERT_TRUE(makePicture({sent}, "BMP3:" + s.dir().file("sent.bmp")));
        Process holder;
        ASSERT_TRUE(clipboardCopy(holder, s.clientDisplay(), s.dir().file("sent.bmp"), "image/bmp",
                                  s.dir()));
        const std::string got = s.dir().file("on-desktop.png");
        std::optional<std::string> png;
        EXPECT_TRUE(waitUntil(
            [&] { return isPng(png = desktopPaste(s, "image/png")) && writeFile(got, *png); },
            15000ms, 300ms));
        EXPECT_EQ(differingPixels(sent, got), "0");
    }
    {
        SCOPED_TRACE("desktop to client");
        Process holder;
        ASSERT_TRUE(desktopCopy(holder, s, sent, "image/png"));
        const std::string got = s.dir().file("on-client.png");
        // The client offers what arrived as BMP to X programs; ask for
        // whatever picture type it lists and compare the pixels.
        EXPECT_TRUE(waitUntil(
            [&] {
                for (const char* type : {"image/png", "image/bmp"}) {
                    const auto data = clipboardPaste(s.clientDisplay(), type);
                    if (data && data->size() > 54 && writeFile(got, *data))
                        return true;
                }
                return false;
            },
            15000ms, 300ms));
        EXPECT_EQ(differingPixels(sent, got), "0");
    }
}

// A tone played on the desktop through PipeWire's PulseAudio service (the
// PULSE_SERVER the desktop gives its programs, which the server inherits)
// comes out of the client's sound server.
TEST(GnomeSound, AToneOnTheDesktopIsHeardOnTheClient) {
    PulseDaemon clientPulse;
    ASSERT_TRUE(clientPulse.ok());
    GnomeSession s;
    ASSERT_TRUE(s.ok());
    // Headless PipeWire has no output device: a null sink stands in for the
    // speakers, as on a machine without sound hardware.
    ASSERT_EQ(run({"pactl", "load-module", "module-null-sink", "sink_name=speakers"},
                  s.desktopEnv(), 10000ms),
              std::optional<int>(0));
    ASSERT_EQ(run({"pactl", "set-default-sink", "speakers"}, s.desktopEnv(), 10000ms),
              std::optional<int>(0));
    ASSERT_NO_FATAL_FAILURE(
        connect(s, {{"MAC_SHADOW_AUDIO", "1"}}, {"/sound:sys:pulse"}, clientPulse.env()));
    ASSERT_TRUE(s.serverSays("sound: client plays", 30000ms));

    const auto samples = recordTone(s.desktopEnv(), clientPulse.env(), s.dir());
    const auto start = toneStart(samples);
    ASSERT_TRUE(start) << "no tone arrived";
    EXPECT_EQ(dominantHz(samples, *start + 2205, 22050, 44100), 1000);
}
