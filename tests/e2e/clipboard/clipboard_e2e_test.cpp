// Copy and paste between the server's desktop and a real FreeRDP client
// started with +clipboard: text both ways, a picture from the client, a
// picture too wide refused, and no echo of a client's paste.
#include <gtest/gtest.h>

#include "e2e_session.h"

using namespace e2e;

namespace {

// Copies a file's contents on a display with xclip, which serves the
// selection in the foreground until another program takes it.
bool copy(Process& holder, const Session& s, const std::string& display, const std::string& file,
          const std::string& type) {
    return holder.start({"xclip", "-quiet", "-selection", "clipboard", "-t", type, "-i", file},
                        {{"DISPLAY", display}}, s.dir().file("xclip.log"),
                        s.dir().file("xclip.log"));
}
// The display's clipboard in the given type, or nothing.
std::optional<std::string> paste(const std::string& display, const std::string& type) {
    std::string out;
    if (run({"xclip", "-selection", "clipboard", "-t", type, "-o"}, {{"DISPLAY", display}}, 3000ms,
            &out) != std::optional<int>(0))
        return std::nullopt;
    return out;
}
bool pastes(const std::string& display, const std::string& text) {
    return waitUntil([&] { return paste(display, "UTF8_STRING") == text; }, 10000ms, 200ms);
}

bool makePicture(const std::vector<std::string>& args, const std::string& out) {
    std::vector<std::string> argv = {"/usr/bin/convert"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(out);
    return run(argv, {}, 20000ms) == std::optional<int>(0);
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
    ASSERT_TRUE(writeFile(s.dir().file("desktop.txt"), fromDesktop));
    Process desktopHolder;
    ASSERT_TRUE(
        copy(desktopHolder, s, s.serverDisplay(), s.dir().file("desktop.txt"), "UTF8_STRING"));
    EXPECT_TRUE(pastes(s.clientDisplay(), fromDesktop));

    // Client to desktop. The client keeps its selection: the paste is not
    // offered back to it as a change of the desktop's clipboard, which would
    // make the client take its own selection from xclip.
    const std::string fromClient = "Ça va? ½ € — Привет";
    ASSERT_TRUE(writeFile(s.dir().file("client.txt"), fromClient));
    Process clientHolder;
    ASSERT_TRUE(
        copy(clientHolder, s, s.clientDisplay(), s.dir().file("client.txt"), "UTF8_STRING"));
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
    ASSERT_TRUE(copy(pictureHolder, s, s.clientDisplay(), s.dir().file("sent.bmp"), "image/bmp"));
    const std::string got = s.dir().file("got.png");
    ASSERT_TRUE(waitUntil(
        [&] {
            auto png = paste(s.serverDisplay(), "image/png");
            return png && png->size() > 8 && png->compare(1, 3, "PNG") == 0 && writeFile(got, *png);
        },
        15000ms, 200ms));
    std::string metric;
    run({"/usr/bin/compare", "-metric", "AE", sent, got, "null:"}, {}, 10000ms, &metric);
    EXPECT_EQ(metric, "0");

    // A picture wider than 8192 pixels is refused; the session goes on.
    const std::string wide = s.dir().file("wide.bmp");
    ASSERT_TRUE(makePicture({"-size", "9000x4", "xc:#10a040"}, "BMP3:" + wide));
    Process wideHolder;
    ASSERT_TRUE(copy(wideHolder, s, s.clientDisplay(), wide, "image/bmp"));
    EXPECT_TRUE(s.serverSays("refused a picture"));
    EXPECT_TRUE(s.server().running());
    const std::string after = "after the refusal";
    ASSERT_TRUE(writeFile(s.dir().file("after.txt"), after));
    Process afterHolder;
    ASSERT_TRUE(copy(afterHolder, s, s.clientDisplay(), s.dir().file("after.txt"), "UTF8_STRING"));
    EXPECT_TRUE(pastes(s.serverDisplay(), after));
}
