// Copy and paste between the server's desktop and a real FreeRDP client
// started with +clipboard: text both ways, a picture from the client, a
// picture too wide refused, and no echo of a client's paste.
#include <gtest/gtest.h>

#include "e2e_harness.h"

using namespace e2e;

namespace {

const std::string kServer = CORVANE_SERVER_BIN;

class ClipboardSession {
  public:
    ClipboardSession(int serverDisplay, int clientDisplay, int port)
        : serverX_(serverDisplay, "1024x768x24"), clientX_(clientDisplay, "1280x1024x24"),
          port_(port) {}

    bool start() {
        if (!serverX_.ok() || !clientX_.ok())
            return false;
        auto env = isolatedServerEnv(dir_, serverX_.name());
        env["MAC_SHADOW_CLIPBOARD"] = "1";
        if (!server_.start({kServer, "/port:" + std::to_string(port_), "-auth", "/sec:tls"}, env,
                           dir_.file("server.log"), dir_.file("server.log")) ||
            !waitUntil([&] { return portOpen(port_); }, 10000ms))
            return false;
        return client_.start({"xfreerdp3", "/v:127.0.0.1:" + std::to_string(port_), "/cert:ignore",
                              "/sec:tls", "/u:x", "/p:x", "/size:1024x768", "+clipboard"},
                             {{"DISPLAY", clientX_.name()}, {"HOME", dir_.path()}},
                             dir_.file("client.log"), dir_.file("client.log")) &&
               waitUntil([&] { return fileContains(dir_.file("server.log"), "client ready"); },
                         15000ms, 100ms);
    }

    // Copies a file's contents on a display with xclip, which serves the
    // selection in the foreground until another program takes it.
    bool copy(Process& holder, const std::string& display, const std::string& file,
              const std::string& type) {
        return holder.start({"xclip", "-quiet", "-selection", "clipboard", "-t", type, "-i", file},
                            {{"DISPLAY", display}}, dir_.file("xclip.log"), dir_.file("xclip.log"));
    }
    // The display's clipboard in the given type, or nothing.
    std::optional<std::string> paste(const std::string& display, const std::string& type) {
        std::string out;
        if (run({"xclip", "-selection", "clipboard", "-t", type, "-o"}, {{"DISPLAY", display}},
                3000ms, &out) != std::optional<int>(0))
            return std::nullopt;
        return out;
    }
    bool pastes(const std::string& display, const std::string& text) {
        return waitUntil([&] { return paste(display, "UTF8_STRING") == text; }, 10000ms, 200ms);
    }

    std::string serverDisplay() const { return serverX_.name(); }
    std::string clientDisplay() const { return clientX_.name(); }
    const TempDir& dir() const { return dir_; }
    Process& server() { return server_; }

  private:
    Xvfb serverX_, clientX_;
    int port_;
    TempDir dir_;
    Process server_, client_;
};

bool makePicture(const std::vector<std::string>& args, const std::string& out) {
    std::vector<std::string> argv = {"/usr/bin/convert"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(out);
    return run(argv, {}, 20000ms) == std::optional<int>(0);
}

} // namespace

TEST(ClipboardEndToEnd, TextBothWaysPictureFromClientAndRefusals) {
    ClipboardSession s(130, 131, 24830);
    ASSERT_TRUE(s.start()) << readFile(s.dir().file("server.log"));

    // Desktop to client, with characters outside ASCII.
    const std::string fromDesktop = "Grüße aus dem Büro ✓ – 東京";
    ASSERT_TRUE(writeFile(s.dir().file("desktop.txt"), fromDesktop));
    Process desktopHolder;
    ASSERT_TRUE(
        s.copy(desktopHolder, s.serverDisplay(), s.dir().file("desktop.txt"), "UTF8_STRING"));
    EXPECT_TRUE(s.pastes(s.clientDisplay(), fromDesktop));

    // Client to desktop. The client keeps its selection: the paste is not
    // offered back to it as a change of the desktop's clipboard, which would
    // make the client take its own selection from xclip.
    const std::string fromClient = "Ça va? ½ € — Привет";
    ASSERT_TRUE(writeFile(s.dir().file("client.txt"), fromClient));
    Process clientHolder;
    ASSERT_TRUE(s.copy(clientHolder, s.clientDisplay(), s.dir().file("client.txt"), "UTF8_STRING"));
    EXPECT_TRUE(s.pastes(s.serverDisplay(), fromClient));
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
    ASSERT_TRUE(s.copy(pictureHolder, s.clientDisplay(), s.dir().file("sent.bmp"), "image/bmp"));
    const std::string got = s.dir().file("got.png");
    ASSERT_TRUE(waitUntil(
        [&] {
            auto png = s.paste(s.serverDisplay(), "image/png");
            return png && png->size() > 8 && png->compare(1, 3, "PNG") == 0 && writeFile(got, *png);
        },
        15000ms, 200ms))
        << readFile(s.dir().file("server.log"));
    std::string metric;
    run({"/usr/bin/compare", "-metric", "AE", sent, got, "null:"}, {}, 10000ms, &metric);
    EXPECT_EQ(metric, "0");

    // A picture wider than 8192 pixels is refused; the session goes on.
    const std::string wide = s.dir().file("wide.bmp");
    ASSERT_TRUE(makePicture({"-size", "9000x4", "xc:#10a040"}, "BMP3:" + wide));
    Process wideHolder;
    ASSERT_TRUE(s.copy(wideHolder, s.clientDisplay(), wide, "image/bmp"));
    EXPECT_TRUE(waitUntil(
        [&] { return fileContains(s.dir().file("server.log"), "refused a picture"); }, 15000ms));
    EXPECT_TRUE(s.server().running());
    const std::string after = "after the refusal";
    ASSERT_TRUE(writeFile(s.dir().file("after.txt"), after));
    Process afterHolder;
    ASSERT_TRUE(s.copy(afterHolder, s.clientDisplay(), s.dir().file("after.txt"), "UTF8_STRING"));
    EXPECT_TRUE(s.pastes(s.serverDisplay(), after));
}
