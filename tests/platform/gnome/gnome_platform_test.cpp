// The gnome platform's services against a private headless mutter: what the
// small services answer, pointer motion and a key with Shift in its flags
// posted through the session reaching a real Wayland window, and the
// clipboard both ways with wl-clipboard. (A client's keys, clicks and wheel,
// and the shape a window sets for its pointer, are in tests/e2e/gnome.)
#include <gtest/gtest.h>

#include "gnome_desktop_fixture.h"

namespace corvane::platform::gnome::testing {
namespace {

class GnomePlatformTest : public GnomePlatformFixture {
  protected:
    void TearDown() override {
        stream_.reset();
        GnomePlatformFixture::TearDown();
    }
    // Pointer motion counts only once the stream runs.
    void startStream() {
        stream_ = startedStream(platform_->capture(), kGnomeMonitorDisplayId, 1280, 800, sink_);
        ASSERT_NE(stream_, nullptr);
    }
    void startWindow() {
        log_ = logDir_.file("probe.log");
        ASSERT_TRUE(desktop_->startClient(window_, {CORVANE_PROBE_WINDOW, "--log", log_}));
        ASSERT_TRUE(e2e::waitUntil([&] { return e2e::fileContains(log_, "mapped"); }, 20s));
    }
    bool logged(const std::string& text, std::chrono::milliseconds limit = 10s) {
        return e2e::waitUntil([&] { return e2e::fileContains(log_, text); }, limit);
    }

    std::unique_ptr<CaptureStream> stream_;
    RecordingSink sink_;
    e2e::TempDir logDir_;
    e2e::Process window_;
    std::string log_;
};

TEST_F(GnomePlatformTest, ServicesDescribeTheRecordedMonitorAndTheDesktop) {
    EXPECT_EQ(platform_->name(), "gnome");
    MainDisplayInfo main;
    ASSERT_TRUE(platform_->displays().mainDisplay(main));
    EXPECT_EQ(main, (MainDisplayInfo{1280, 800, 1280, 800}));
    DisplayConfig& config = platform_->displayConfig();
    EXPECT_EQ(config.activeDisplays(4), (std::vector<uint32_t>{kGnomeMonitorDisplayId}));
    DisplayBounds bounds;
    ASSERT_TRUE(config.bounds(kGnomeMonitorDisplayId, bounds));
    EXPECT_EQ(bounds.width, 1280);
    EXPECT_EQ(bounds.height, 800);
    EXPECT_FALSE(config.bounds(7, bounds));
    EXPECT_FALSE(config.asleep(kGnomeMonitorDisplayId));
    EXPECT_TRUE(platform_->privacy().screenAccess(false));
    EXPECT_TRUE(platform_->privacy().accessibilityTrusted(false));
    EXPECT_DOUBLE_EQ(platform_->inputPrefs().doubleClickSeconds(), 0.4);
    EXPECT_STREQ(platform_->terms().system, "GNOME's compositor (mutter)");
}

TEST_F(GnomePlatformTest, PointerAndShiftedKeysReachAWaylandWindow) {
    // A window started after the session opened gets its keyboard: mutter 43
    // makes one only with the first key, which the session sends at open.
    startStream();
    EventPoster& events = platform_->events();
    startWindow();
    // Motion before the stream runs is dropped: move until the window sees it.
    ASSERT_TRUE(e2e::waitUntil(
        [&] {
            events.postMouse(MouseEventType::Moved, {640, 400}, 0, 0);
            return e2e::fileContains(log_, "mouse move x=640 y=400");
        },
        15s, 200ms))
        << e2e::readFile(log_);
    // Shift from the flags alone gives the capital.
    EXPECT_TRUE(events.postKey(0x0B, true, kFlagShift)); // "b"
    EXPECT_TRUE(events.postKey(0x0B, false, kFlagShift));
    EXPECT_TRUE(logged("text=B")) << e2e::readFile(log_);
}

TEST_F(GnomePlatformTest, ClipboardTextBothWays) {
    // wl-clipboard needs a seat with a keyboard: the session's.
    startStream();
    startWindow();
    Pasteboard& pasteboard = platform_->pasteboard();
    const int64_t before = pasteboard.changeCount();
    ASSERT_TRUE(pasteboard.write(PasteboardType::Text, {'f', 'r', 'o', 'm', ' ', 'u', 's'}));
    EXPECT_EQ(pasteboard.changeCount(), before + 1);
    std::string pasted;
    EXPECT_TRUE(e2e::waitUntil(
        [&] {
            pasted.clear();
            return e2e::run({"wl-paste", "--no-newline"}, desktop_->clientEnv(), 10s, &pasted) ==
                       0 &&
                   pasted == "from us";
        },
        15s, 300ms))
        << pasted;
    e2e::Process copier;
    ASSERT_TRUE(desktop_->startClient(copier, {"wl-copy", "from the desktop"}));
    ASSERT_TRUE(e2e::waitUntil([&] { return pasteboard.changeCount() > before + 1; }, 15s));
    EXPECT_EQ(pasteboard.types(), uint32_t(PasteboardType::Text));
    const auto text = pasteboard.read(PasteboardType::Text);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(std::string(text->begin(), text->end()), "from the desktop");
    EXPECT_FALSE(pasteboard.read(PasteboardType::Png).has_value());
}

} // namespace
} // namespace corvane::platform::gnome::testing
