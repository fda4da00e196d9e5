// X11 capture on a private Xvfb: the first frame is the screen, later frames
// carry only what changed, scaling into a destination rectangle, the cursor,
// and the queue depth; a stream whose X server goes away or changes size
// reports that it stopped (and the process lives on), one stopped on request
// does not. And the frame pool without an X server: the picture is scaled
// whenever the destination differs from the captured region in either
// dimension, and no more frames than the queue depth are out at once.
#include "x11_capture_fixture.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/linux/frame_pool.h"

namespace corvane::platform::x11::testing {
namespace {

double changedArea(const CopiedFrame& f) {
    double area = 0;
    for (const auto& r : f.dirty)
        area += r.width * r.height;
    return area;
}

int countNot(const CopiedFrame& f, uint32_t rgb, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            n += f.at(x, y) != rgb;
    return n;
}

// The content lists the whole screen as display 0; its first frame is the
// whole screen, later ones only what was drawn.
TEST_F(X11CaptureTest, FirstFrameIsTheWholeScreenThenOnlyTheDrawnRectangle) {
    start(320, 200);
    std::optional<ShareableContent> content;
    capture_.shareableContent(
        [&](std::optional<ShareableContent> c, const std::string&) { content = c; });
    ASSERT_TRUE(content.has_value() && !content->displays.empty());
    EXPECT_EQ(content->mainDisplayId, 0u);
    EXPECT_EQ(content->displays[0], (CaptureDisplay{0, 0, 0, 320, 200}));
    fillRoot(0x2040c0);
    startStream(settings(320, 200));
    ASSERT_TRUE(sink_.waitForFrames(1));
    const CopiedFrame first = sink_.frame(0);
    EXPECT_EQ(countNot(first, 0x2040c0, 0, 0, 320, 200), 0);
    EXPECT_TRUE(covers(first, 0, 0, 320, 200));

    fillRect(100, 50, 10, 12, 0xff8000);
    ASSERT_TRUE(sink_.waitUntil(
        [&] { return sink_.frames.size() >= 2 && covers(sink_.frames.back(), 100, 50, 10, 12); }));
    const CopiedFrame later = sink_.frame(sink_.count() - 1);
    EXPECT_EQ(later.at(100, 50), 0xff8000u);
    EXPECT_EQ(later.at(109, 61), 0xff8000u);
    EXPECT_EQ(later.at(110, 62), 0x2040c0u);
    EXPECT_EQ(countNot(later, 0x2040c0, 0, 0, 320, 200), 120);
    EXPECT_LE(changedArea(later), 200.0) << "more than the drawn rectangle was reported";
}

TEST_F(X11CaptureTest, PictureIsScaledIntoTheDestinationRectangle) {
    start(320, 200);
    fillRoot(0x00ff00);
    fillRect(0, 0, 160, 200, 0xff0000); // left half red, right half green
    CaptureSettings s = settings(400, 300);
    s.destination = Rect{40, 50, 160, 100}; // half size
    startStream(s);
    ASSERT_TRUE(sink_.waitForFrames(1));
    const CopiedFrame f = sink_.frame(0);
    EXPECT_EQ(f.width, 400);
    EXPECT_EQ(f.at(45, 55), 0xff0000u);
    EXPECT_EQ(f.at(195, 145), 0x00ff00u);
    EXPECT_EQ(f.at(110, 100), 0xff0000u);
    EXPECT_EQ(f.at(130, 100), 0x00ff00u);
    // Outside the rectangle the frame stays black.
    EXPECT_EQ(f.at(39, 100), 0u);
    EXPECT_EQ(f.at(200, 100), 0u);
    EXPECT_EQ(f.at(100, 49), 0u);
    EXPECT_EQ(f.at(399, 299), 0u);

    // A change lands scaled, and only around its scaled place.
    fillRect(300, 180, 20, 20, 0x0000ff);
    ASSERT_TRUE(sink_.waitUntil([&] { return sink_.frames.size() >= 2; }));
    const CopiedFrame g = sink_.frame(sink_.count() - 1);
    EXPECT_EQ(g.at(196, 146), 0x0000ffu);
    ASSERT_FALSE(g.dirty.empty());
    for (const auto& r : g.dirty) {
        EXPECT_GE(r.x, 185);
        EXPECT_GE(r.y, 135);
        EXPECT_LE(r.x + r.width, 200);
        EXPECT_LE(r.y + r.height, 150);
    }
}

// The cursor is in the picture only when asked for, and follows the pointer.
TEST_F(X11CaptureTest, CursorIsCompositedWhenAskedFor) {
    start(320, 200);
    fillRoot(0x808080);
    movePointer(160, 100);
    startStream(settings(320, 200, false));
    ASSERT_TRUE(sink_.waitForFrames(1));
    EXPECT_EQ(countNot(sink_.frame(0), 0x808080, 0, 0, 320, 200), 0) << "hidden";
    stream_.reset();
    sink_.frames.clear();
    startStream(settings(320, 200, true));
    ASSERT_TRUE(sink_.waitForFrames(1));
    EXPECT_GT(countNot(sink_.frame(0), 0x808080, 140, 80, 180, 120), 10);
    EXPECT_EQ(countNot(sink_.frame(0), 0x808080, 0, 0, 100, 60), 0);

    // Moving the pointer redraws the cursor elsewhere and restores the
    // picture where it was.
    movePointer(40, 30);
    ASSERT_TRUE(sink_.waitUntil([&] {
        return sink_.frames.size() >= 2 &&
               countNot(sink_.frames.back(), 0x808080, 20, 10, 60, 50) > 10;
    }));
    const CopiedFrame moved = sink_.frame(sink_.count() - 1);
    EXPECT_EQ(countNot(moved, 0x808080, 140, 80, 180, 120), 0);
    EXPECT_TRUE(covers(moved, 160, 100, 1, 1)) << "the old cursor place was not reported";
    EXPECT_TRUE(covers(moved, 40, 30, 1, 1)) << "the new cursor place was not reported";
}

// Both buffers of a queue of two are held, so the changes drawn meanwhile
// wait; once the buffers come back, a frame shows all of them. Nothing here
// waits for something not to happen: a stream that handed out a third frame
// while two were held would show in the count and in mostHeld().
TEST_F(X11CaptureTest, NoMoreFramesThanTheQueueDepthAreHeldAndChangesAreKept) {
    start(320, 200);
    fillRoot(0x000000);
    CaptureSettings s = settings(320, 200);
    s.queueDepth = 2;
    sink_.holdFrames = true;
    startStream(s);
    ASSERT_TRUE(sink_.waitForFrames(1));
    fillRect(0, 0, 10, 10, 0xffffff);
    ASSERT_TRUE(sink_.waitForFrames(2));
    for (int i = 1; i < 6; ++i)
        fillRect(i * 20, 0, 10, 10, 0xffffff);
    EXPECT_EQ(sink_.count(), 2u);
    sink_.releaseHeld();
    const auto allSix = [&] {
        if (sink_.frames.size() < 3)
            return false;
        for (int i = 0; i < 6; ++i)
            if (sink_.frames.back().at(i * 20 + 5, 5) != 0xffffffu)
                return false;
        return true;
    };
    EXPECT_TRUE(sink_.waitUntil(allSix)) << "changes made while the queue was full were lost";
    EXPECT_EQ(sink_.mostHeld(), 2u);
}

TEST_F(X11CaptureTest, KilledServerStopsTheStream) {
    ASSERT_NO_FATAL_FAILURE(streaming(160, 100));
    // Our own drawing connection goes first: closing it after the server is
    // gone would end the process.
    XCloseDisplay(d_);
    d_ = nullptr;
    xvfb_->kill();
    ASSERT_TRUE(sink_.waitUntil([&] { return !sink_.stopReasons.empty(); }));
    EXPECT_EQ(sink_.stopReasons[0], "the X connection was lost");
    // Stopping a stream that already ended answers at once.
    bool stopped = false;
    stream_->stop([&] { stopped = true; });
    EXPECT_TRUE(stopped);
}

TEST_F(X11CaptureTest, StopOnRequestIsConfirmedAndNotReportedAsStopped) {
    ASSERT_NO_FATAL_FAILURE(streaming(160, 100));
    std::atomic<bool> stopped{false};
    stream_->stop([&] { stopped = true; });
    ASSERT_TRUE(e2e::waitUntil([&] { return stopped.load(); }, 5s));
    EXPECT_TRUE(sink_.stopReasons.empty());
}

TEST_F(X11CaptureTest, ScreenSizeChangeStopsTheStream) {
    ASSERT_NO_FATAL_FAILURE(streaming(320, 200));
    e2e::run({"xrandr", "-display", xvfb_->name(), "--fb", "300x180"}, {}, 10s);
    ASSERT_TRUE(sink_.waitUntil([&] { return !sink_.stopReasons.empty(); }));
    EXPECT_EQ(sink_.stopReasons[0], "display 0 changed size or went away");
}

} // namespace
} // namespace corvane::platform::x11::testing

namespace corvane::platform::linuxos {
namespace {

TEST(FramePoolScaling, DestinationDifferingInOneDimensionOnlyIsScaled) {
    constexpr uint32_t kRed = 0xff0000, kBlue = 0x0000ff;
    for (const bool alongWidth : {true, false}) {
        // A 4 x 2 (or 2 x 4) region, red in its first half and blue in its
        // second, into a 2 x 2 destination.
        const int32_t rw = alongWidth ? 4 : 2, rh = alongWidth ? 2 : 4;
        std::vector<uint32_t> mirror(static_cast<size_t>(rw * rh));
        for (int32_t y = 0; y < rh; ++y)
            for (int32_t x = 0; x < rw; ++x)
                mirror[static_cast<size_t>(y * rw + x)] = ((alongWidth ? x : y) < 2 ? kRed : kBlue);
        CaptureSettings settings;
        settings.width = settings.height = 2;
        settings.destination = Rect{0, 0, 2, 2};
        settings.queueDepth = 1;
        FramePool pool(rw, rh, settings, [] {});
        pixman_region32_t dirty;
        pixman_region32_init_rect(&dirty, 0, 0, 2, 2);
        FrameHandle frame =
            pool.fill(reinterpret_cast<const uint8_t*>(mirror.data()), rw * 4, nullptr, dirty);
        pixman_region32_fini(&dirty);
        ASSERT_TRUE(frame);
        const auto* px = reinterpret_cast<const uint32_t*>(frame->pixels);
        // Copied unscaled, the second pixel would be the region's second
        // (red) one instead of a sample of its blue half.
        EXPECT_EQ(px[0] & 0xffffff, kRed) << (alongWidth ? "width" : "height");
        EXPECT_EQ(px[alongWidth ? 1 : 2] & 0xffffff, kBlue) << (alongWidth ? "width" : "height");
    }
}

// While both frames of a pool of two are held there is no third; a buffer
// that comes back is brought up to date with what changed meanwhile.
TEST(FramePoolDepth, NoThirdFrameWhileTwoAreHeldAndAReturnedBufferCatchesUp) {
    constexpr int32_t kWidth = 4;
    std::vector<uint32_t> mirror(kWidth, 0x000000);
    CaptureSettings settings;
    settings.width = kWidth;
    settings.height = 1;
    settings.queueDepth = 2;
    int released = 0;
    FramePool pool(kWidth, 1, settings, [&] { ++released; });
    const auto fill = [&](int32_t x, int32_t width) {
        pixman_region32_t dirty;
        pixman_region32_init_rect(&dirty, x, 0, unsigned(width), 1);
        pool.invalidate(dirty);
        FrameHandle frame =
            pool.fill(reinterpret_cast<const uint8_t*>(mirror.data()), kWidth * 4, nullptr, dirty);
        pixman_region32_fini(&dirty);
        return frame;
    };
    FrameHandle first = fill(0, kWidth);
    FrameHandle second = fill(0, kWidth);
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(pool.hasFreeBuffer());
    mirror[3] = 0xffffff;
    EXPECT_FALSE(fill(3, 1)) << "a third frame while two are held";
    first.reset();
    EXPECT_EQ(released, 1);
    ASSERT_TRUE(pool.hasFreeBuffer());
    FrameHandle third = fill(0, 0);
    ASSERT_TRUE(third);
    const auto* px = reinterpret_cast<const uint32_t*>(third->pixels);
    EXPECT_EQ(px[3] & 0xffffff, 0xffffffu) << "the change made while the queue was full was lost";
}

} // namespace
} // namespace corvane::platform::linuxos
