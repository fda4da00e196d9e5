// Copy and paste between the server's desktop and a real FreeRDP client
// started with +clipboard: text both ways, a picture from the client, a
// picture too wide refused, and no echo of a client's paste.
#include <gtest/gtest.h>

#include "e2e_session.h"

using namespace e2e;

namespace {
// Copies the text on the display from a file of that name (held by `holder`).
bool copyText(Process& holder, const Session& s, const std::string& display,
              const std::string& name, const std::string& text) {
    return writeFile(s.dir().file(name), text) &&
           clipboardCopy(holder, display, s.dir().file(name), "UTF8_STRING", s.dir());
}
bool pastes(const std::string& display, const std::string& text) {
    return waitUntil([&] { return clipboardPaste(display, "UTF8_STRING") == text; }, 10000ms,
                     200ms);
}
} // namespace

TEST(ClipboardEndToEnd, TextBothWaysPictureFromClientAndRefusals) {
    Session s(suites::clipboard, "1024x768x24", "1280x1024x24");
    ASSERT_TRUE(s.ok());
    ASSERT_TRUE(s.startServer({"-auth", "/sec:tls"}, {{"MAC_SHADOW_CLIPBOARD", "1"}}));
    E2E_SKIP_IF_HOOK_UNVERIFIED(s, "clipboard");
    ASSERT_TRUE(s.startClient({"/sec:tls", "/u:x", "/p:x", "/size:1024x768", "+clipboard"}));
    ASSERT_TRUE(s.serverSays("client ready"));

    // Desktop to client, with characters outside ASCII.
    const std::string fromDesktop = "Grüße aus dem Büro ✓ – 東京";
    Process desktopHolder;
    ASSERT_TRUE(copyText(desktopHolder, s, s.serverDisplay(), "desktop.txt", fromDesktop));
    EXPECT_TRUE(pastes(s.clientDisplay(), fromDesktop));

    // Client to desktop. The client keeps its selection: the paste is not
    // offered back to it as a change of the desktop's clipboard, which would
    // make the client take its own selection from xclip.
    const std::string fromClient = "Ça va? ½ € — Привет";
    Process clientHolder;
    ASSERT_TRUE(copyText(clientHolder, s, s.clientDisplay(), "client.txt", fromClient));
    EXPECT_TRUE(pastes(s.serverDisplay(), fromClient));
    EXPECT_FALSE(waitUntil([&] { return !clientHolder.running(); }, 1500ms))
        << "the client's own paste was announced back to it";

    // A picture copied on the client arrives as image/png with the same
    // pixels. The FreeRDP client takes pictures from X programs only as
    // BMP (it announces them as CF_DIB), so the PNG is copied in that form.
    const std::string sent = s.dir().file("sent.png");
    ASSERT_TRUE(makePicture({"-size", "67x41", "gradient:#ff2000-#0030c0", "-depth", "8"},
                            "PNG24:" + sent));
    ASSERT_TRUE(makePicture({sent}, "BMP3:" + s.dir().file("sent.bmp")));
    Process pictureHolder;
    ASSERT_TRUE(clipboardCopy(pictureHolder, s.clientDisplay(), s.dir().file("sent.bmp"),
                              "image/bmp", s.dir()));
    const std::string got = s.dir().file("got.png");
    ASSERT_TRUE(waitUntil(
        [&] {
            auto png = clipboardPaste(s.serverDisplay(), "image/png");
            return png && png->size() > 8 && png->compare(1, 3, "PNG") == 0 && writeFile(got, *png);
        },
        15000ms, 200ms));
    EXPECT_EQ(differingPixels(sent, got), "0");

    // A picture wider than 8192 pixels is refused; the session goes on.
    const std::string wide = s.dir().file("wide.bmp");
    ASSERT_TRUE(makePicture({"-size", "9000x4", "xc:#10a040"}, "BMP3:" + wide));
    Process wideHolder;
    ASSERT_TRUE(clipboardCopy(wideHolder, s.clientDisplay(), wide, "image/bmp", s.dir()));
    EXPECT_TRUE(s.serverSays("refused a picture"));
    EXPECT_TRUE(s.server().running());
    Process afterHolder;
    ASSERT_TRUE(copyText(afterHolder, s, s.clientDisplay(), "after.txt", "after the refusal"));
    EXPECT_TRUE(pastes(s.serverDisplay(), "after the refusal"));
}
