// The gnome backend against a private headless mutter: the session opens and
// lists the monitor, a stream delivers frames of the monitor's size, pointer
// motion sent through the session is seen in the stream's cursor metadata,
// and the compositor going away is reported to the session's ended handler
// and to the stream. (A window's change reaching a client is in tests/e2e/gnome.)
#include <gtest/gtest.h>

#include "gnome_desktop_fixture.h"
#include "platform/gnome/gnome_capture.h"
#include "platform/gnome/gnome_session.h"

namespace corvane::platform::gnome::testing {
namespace {

class GnomeSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        desktop_ = std::make_unique<HeadlessGnome>();
        ASSERT_TRUE(desktop_->ok()) << desktop_->log();
    }
    void TearDown() override {
        stream_.reset();
        capture_.reset();
        monitors_.reset();
        session_.reset();
        desktop_.reset();
    }
    void moveTo(double x, double y) {
        const std::string path = session_->stream()->streamPath;
        ASSERT_TRUE(session_->callSession("NotifyPointerMotionAbsolute", [=](sd_bus_message* m) {
            return sd_bus_message_append(m, "sdd", path.c_str(), x, y);
        }));
    }
    bool cursorAt(int32_t x, int32_t y) {
        auto source = capture_->runningSource();
        if (!source)
            return false;
        const GnomeCursorState c = source->cursor();
        return c.known && c.x == x && c.y == y;
    }
    std::string cursorText() {
        auto source = capture_->runningSource();
        if (!source)
            return "no consumer";
        const GnomeCursorState c = source->cursor();
        return "cursor at " + std::to_string(c.x) + "," + std::to_string(c.y) + " (" +
               std::to_string(c.moveSerial) + " changes, " + (c.visible ? "shown" : "hidden") +
               ", " + std::to_string(c.width) + "x" + std::to_string(c.height) + ", seed " +
               std::to_string(c.seed) + ")";
    }
    void startStream() {
        stream_ = startedStream(*capture_, kGnomeMonitorDisplayId, 1280, 800, sink_);
        ASSERT_NE(stream_, nullptr) << desktop_->log();
    }
    void open() {
        Answer<std::string> opened;
        session_->open([&](bool ok, const std::string& e) { opened.set(ok ? "" : e); });
        ASSERT_TRUE(opened.wait());
        ASSERT_EQ(*opened.value, "");
    }

    std::unique_ptr<HeadlessGnome> desktop_;
    std::unique_ptr<GnomeSession> session_ = std::make_unique<GnomeSession>();
    std::unique_ptr<GnomeVirtualMonitors> monitors_ =
        std::make_unique<GnomeVirtualMonitors>(*session_);
    std::unique_ptr<GnomeCapture> capture_ = std::make_unique<GnomeCapture>(*session_, *monitors_);
    std::unique_ptr<CaptureStream> stream_;
    RecordingSink sink_;
};

TEST_F(GnomeSessionTest, OpensAndListsTheVirtualMonitor) {
    Answer<std::optional<ShareableContent>> content;
    std::string error;
    capture_->shareableContent([&](std::optional<ShareableContent> c, const std::string& e) {
        error = e;
        content.set(std::move(c));
    });
    ASSERT_TRUE(content.wait());
    ASSERT_TRUE(content.value->has_value()) << error;
    const ShareableContent& c = **content.value;
    EXPECT_EQ(c.mainDisplayId, kGnomeMonitorDisplayId);
    ASSERT_EQ(c.displays.size(), 1u);
    EXPECT_EQ(c.displays[0], (CaptureDisplay{kGnomeMonitorDisplayId, 0, 0, 1280, 800}));
    EXPECT_TRUE(session_->running());
    EXPECT_FALSE(session_->remoteDesktopPath().empty());
}

TEST_F(GnomeSessionTest, FramesOfTheMonitorAndPointerMotionInTheCursorMetadata) {
    startStream();
    ASSERT_TRUE(sink_.waitForFrames(1)) << desktop_->log();
    const auto first = sink_.frame(0);
    EXPECT_EQ(first.width, 1280);
    EXPECT_EQ(first.height, 800);
    EXPECT_TRUE(covers(first, 0, 0));
    EXPECT_TRUE(covers(first, 1279, 799));
    // Motion before the stream ran may be dropped by mutter: send it until
    // the metadata shows the place, within a bound.
    ASSERT_TRUE(e2e::waitUntil(
        [&] {
            moveTo(400, 300);
            return cursorAt(400, 300);
        },
        15s, 200ms))
        << desktop_->log();
    moveTo(700, 500);
    EXPECT_TRUE(e2e::waitUntil([&] { return cursorAt(700, 500); }, 10s)) << cursorText();
}

TEST_F(GnomeSessionTest, CompositorGoingAwayEndsSessionAndStream) {
    Answer<std::string> ended;
    session_->setEndedHandler([&](const std::string& reason) { ended.set(reason); });
    startStream();
    ASSERT_TRUE(sink_.waitForFrames(1));
    desktop_->killCompositor();
    ASSERT_TRUE(ended.wait());
    EXPECT_FALSE(ended.value->empty());
    EXPECT_FALSE(session_->running());
    EXPECT_TRUE(sink_.waitUntil([&] { return !sink_.stopReasons.empty(); }));
}

TEST_F(GnomeSessionTest, TheSessionBusGoingAwayEndsTheSession) {
    Answer<std::string> ended;
    session_->setEndedHandler([&](const std::string& reason) { ended.set(reason); });
    open();
    desktop_->killBus();
    ASSERT_TRUE(ended.wait());
    EXPECT_NE(ended.value->find("connection was lost"), std::string::npos) << *ended.value;
    EXPECT_FALSE(session_->running());
    EXPECT_FALSE(session_->callSession("NotifyPointerMotionRelative", {}));
}

TEST_F(GnomeSessionTest, CloseStopsTheSessionWithoutReportingAnEnd) {
    bool endedCalled = false;
    session_->setEndedHandler([&](const std::string&) { endedCalled = true; });
    open();
    session_->close();
    EXPECT_FALSE(session_->running());
    EXPECT_FALSE(endedCalled);
    open(); // a new session on a new connection
}

} // namespace
} // namespace corvane::platform::gnome::testing
