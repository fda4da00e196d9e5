// Scrolls found in a changed rectangle: whatever the finder answers, the
// client's picture after its moves and the encoded rest must be the new
// frame, and a real scroll, up, down or sideways, must come out as a few
// moves and a thin strip, and a window dragged across the desktop as one
// move and what it uncovered.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "server/shadow/ext/scroll_finder.h"

namespace {

constexpr int kWidth = 160, kHeight = 240;
constexpr UINT32 kStride = kWidth * 4;

using Frame = std::vector<uint32_t>;

// A page's row k: every pixel different, as text and pictures are.
uint32_t pagePixel(int k, int x) {
    uint32_t v = uint32_t(k) * 0x9e3779b1u ^ uint32_t(x) * 0x85ebca6bu;
    v ^= v >> 15;
    return (v * 0x2c1b3c6du) & 0xffffffu;
}

// The page's columns; the frame around it stays as it is.
constexpr int kPageLeft = 10, kPageRight = 150, kPage = kPageRight - kPageLeft;

// A frame showing, in rows [top, bottom), the page from row `scroll` on.
void showPage(Frame& f, int top, int bottom, int scroll, int left = kPageLeft,
              int right = kPageRight) {
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            f[size_t(y * kWidth + x)] = pagePixel(y - top + scroll, x);
}

// The same over the page's columns, from column `pan` of the page on: a
// larger `pan` shows its content further left.
void panPage(Frame& f, int top, int bottom, int scroll, int pan) {
    for (int y = top; y < bottom; ++y)
        for (int x = kPageLeft; x < kPageRight; ++x)
            f[size_t(y * kWidth + x)] = pagePixel(y - top + scroll, x + pan);
}

// Text of two colours in cells of 6 by 13 pixels, as a terminal with a
// bitmap font shows it: a row's pixels repeat far more than a picture's.
uint32_t textPixel(int k, int x) {
    const int line = k / 13, glyphRow = k % 13, cell = x / 6, glyphColumn = x % 6;
    if (glyphRow >= 11 || glyphColumn == 5)
        return 0xffffff;
    const uint32_t glyph = (pagePixel(line, cell) >> 3) % 64;
    return (pagePixel(int(glyph) * 13 + glyphRow, glyphColumn) & 7) < 3 ? 0 : 0xffffff;
}

// Rows [top, bottom) of the page's columns showing that text from column
// `pan` on.
void panText(Frame& f, int top, int bottom, int pan) {
    for (int y = top; y < bottom; ++y)
        for (int x = kPageLeft; x < kPageRight; ++x)
            f[size_t(y * kWidth + x)] = textPixel(y - top, x + pan);
}

// A window's row k: its own content wherever it stands.
uint32_t windowPixel(int k, int x) {
    return pagePixel(20000 + k, x);
}

using Content = uint32_t (*)(int k, int x);

// A window of `w` by `h` pixels with its top-left at (left, top).
void showWindow(Frame& f, int left, int top, int w, int h, Content content = windowPixel) {
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            f[size_t((top + y) * kWidth + left + x)] = content(y, x);
}

void plainPage(Frame& f) {
    for (int y = 20; y < 220; ++y)
        for (int x = kPageLeft; x < kPageRight; ++x)
            f[size_t(y * kWidth + x)] = 0x204060;
}

// What changes between the frame before and the frame after.
using Paint = std::function<void(Frame& before, Frame& after)>;

// A window of `w` by `h` dragged from (x0, y0) to (x1, y1) over the
// desktop's detailed picture.
Paint drag(int x0, int y0, int x1, int y1, int w, int h, Content content = windowPixel) {
    return [=](Frame& b, Frame& a) {
        showWindow(b, x0, y0, w, h, content), showWindow(a, x1, y1, w, h, content);
    };
}

// Rows [top, bottom) of the page scrolled from its row `from` to row `to`.
Paint scroll(int from, int to, int top = 20, int bottom = 220) {
    return
        [=](Frame& b, Frame& a) { showPage(b, top, bottom, from), showPage(a, top, bottom, to); };
}

// Rows [top, bottom) of the page, from its row `row` on, panned from its
// column `from` to column `to`.
Paint pan(int from, int to, int top = 20, int bottom = 220, int row = 0) {
    return [=](Frame& b, Frame& a) {
        panPage(b, top, bottom, row, from), panPage(a, top, bottom, row, to);
    };
}

Paint both(Paint first, Paint second) {
    return [=](Frame& b, Frame& a) { first(b, a), second(b, a); };
}

Frame frame() {
    Frame f(size_t(kWidth * kHeight));
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            f[size_t(y * kWidth + x)] = pagePixel(100000 + y, x);
    return f;
}

const BYTE* bytes(const Frame& f) {
    return reinterpret_cast<const BYTE*>(f.data());
}

// What the client shows: `before`, the moves applied in order inside its
// surface, then the rest painted from `after`.
Frame clientPicture(const Frame& before, const Frame& after, const ShadowExtScroll& s) {
    Frame shown = before;
    for (const ShadowExtMove& m : s.moves) {
        const int rows = m.source.bottom - m.source.top, cols = m.source.right - m.source.left;
        Frame band(size_t(rows * cols));
        for (int r = 0; r < rows; ++r)
            std::memcpy(&band[size_t(r * cols)],
                        &shown[size_t((m.source.top + r) * kWidth + m.source.left)],
                        size_t(cols) * 4);
        for (int r = 0; r < rows; ++r)
            std::memcpy(&shown[size_t((m.toY + r) * kWidth + m.toX)], &band[size_t(r * cols)],
                        size_t(cols) * 4);
    }
    for (const RECTANGLE_16& r : s.rest)
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                shown[size_t(y * kWidth + x)] = after[size_t(y * kWidth + x)];
    return shown;
}

int pixels(const std::vector<RECTANGLE_16>& rects) {
    int n = 0;
    for (const RECTANGLE_16& r : rects)
        n += (r.bottom - r.top) * (r.right - r.left);
    return n;
}

constexpr RECTANGLE_16 kPageRect{kPageLeft, 20, kPageRight, 220};

struct Case {
    const char* what;
    Paint paint;
    size_t moves;
    int restPixels;
    size_t restRects; // the encoder's work comes in this many pieces
    RECTANGLE_16 rect = kPageRect;
};

} // namespace

TEST(ScrollFinder, TheClientEndsWithTheNewFrameAndScrollsCostOnlyTheirStrip) {
    const Case cases[] = {
        {"scrolled down 8 rows: one move, the 8 exposed rows", scroll(0, 8), 1, 8 * kPage, 1},
        {"scrolled up 40 rows", scroll(40, 0), 1, 40 * kPage, 1},
        {"a scroll with a changed line inside: two moves around it",
         [](Frame& b, Frame& a) {
             showPage(b, 20, 220, 0), showPage(a, 20, 220, 8);
             for (int x = kPageLeft; x < kPageRight; ++x)
                 a[size_t(100 * kWidth + x)] ^= 0xff;
         },
         2, 9 * kPage, 2},
        {"new content, no scroll: everything is encoded", scroll(0, 5000), 0, 200 * kPage, 1},
        {"two panes scrolling by 8 and by 20",
         both(scroll(0, 8, 20, 120), scroll(3000, 3020, 120, 220)), 2, 28 * kPage, 2},
        {"only 10 rows moved: not worth a move",
         both(scroll(0, 2, 20, 30), [](Frame&, Frame& a) { showPage(a, 30, 220, 7000); }), 0,
         200 * kPage, 1},
        {"a rectangle too short for a move goes whole",
         scroll(0, 4, 20, 51),
         0,
         31 * kPage,
         1,
         {kPageLeft, 20, kPageRight, 51}},
        {"the whole frame, edge to edge, scrolled by one row",
         [](Frame& b, Frame& a) {
             showPage(b, 0, kHeight, 0, 0, kWidth), showPage(a, 0, kHeight, 1, 0, kWidth);
         },
         1,
         kWidth,
         1,
         {0, 0, kWidth, kHeight}},
        {"unchanged rows are encoded again (a repaint)", scroll(0, 0), 0, 200 * kPage, 1},
        {"panned 3 columns left: one move, the 3 exposed columns", pan(0, 3), 1, 3 * 200, 1},
        {"panned 5 columns right", pan(5, 0), 1, 5 * 200, 1},
        {"panned 100 columns left, 40 stay in view", pan(0, 100), 1, 100 * 200, 1},
        {"panned 120 columns right, 20 stay in view", pan(120, 0), 1, 120 * 200, 1},
        {"panned 130 columns: too few stay in view for a move", pan(0, 130), 0, 200 * kPage, 1},
        {"a pan with a row changed in the last column still in view: two moves around it",
         [](Frame& b, Frame& a) {
             panPage(b, 20, 220, 0, 0), panPage(a, 20, 220, 0, 3);
             a[size_t(100 * kWidth + kPageRight - 4)] ^= 0xff;
         },
         2, 3 * 199 + kPage, 3},
        {"two-colour text panned 4 cells left",
         [](Frame& b, Frame& a) { panText(b, 20, 220, 0), panText(a, 20, 220, 24); }, 1, 24 * 200,
         1},
        {"two-colour text panned 7 cells right",
         [](Frame& b, Frame& a) { panText(b, 20, 220, 42), panText(a, 20, 220, 0); }, 1, 42 * 200,
         1},
        {"only 10 rows panned: not worth a move",
         both(pan(0, 2, 20, 30), [](Frame&, Frame& a) { showPage(a, 30, 220, 7000); }), 0,
         200 * kPage, 1},
        {"both ends of each row panned, its middle new: no move",
         [](Frame& b, Frame& a) {
             panPage(b, 20, 220, 0, 0), panPage(a, 20, 220, 0, 3);
             showPage(a, 20, 220, 9000, 40, 120);
         },
         0, 200 * kPage, 1},
        {"stripes one step along: they only look panned",
         [](Frame& b, Frame& a) {
             for (int y = 20; y < 220; ++y)
                 for (int x = kPageLeft; x < kPageRight; ++x) {
                     b[size_t(y * kWidth + x)] = pagePixel(y, x % 4);
                     a[size_t(y * kWidth + x)] = pagePixel(y, (x + 1) % 4);
                 }
         },
         0, 200 * kPage, 1},
        {"a pane scrolled up by 8 over a pane panned 6 columns right",
         both(scroll(0, 8, 20, 120), pan(6, 0, 120, 220, 3000)), 2, 8 * kPage + 6 * 100, 2},
        {"a pane panned 6 columns left over a pane scrolled down by 20",
         both(pan(0, 6, 20, 120), scroll(3020, 3000, 120, 220)), 2, 6 * 100 + 20 * kPage, 2},
        // Dragged windows: the desktop around them stays, so only the
        // window's own columns move, and what it uncovered is encoded.
        {"a window dragged 7 right and 5 down: one move, all but the window encoded",
         drag(30, 50, 37, 55, 60, 80), 1, 200 * kPage - 60 * 80, 4},
        {"a window dragged 1 right and 1 down", drag(30, 50, 31, 51, 60, 80), 1,
         200 * kPage - 60 * 80, 4},
        {"a window dragged 2 left and 1 up", drag(30, 50, 28, 49, 60, 80), 1, 200 * kPage - 60 * 80,
         4},
        {"a window dragged 60 right and 90 down", drag(15, 25, 75, 115, 60, 80), 1,
         200 * kPage - 60 * 80, 4},
        {"a window dragged 70 left and 100 up, into the corner", drag(80, 120, 10, 20, 60, 80), 1,
         200 * kPage - 60 * 80, 2},
        {"a terminal (two-colour text) dragged 9 left and 13 down",
         drag(30, 50, 21, 63, 60, 80, textPixel), 1, 200 * kPage - 60 * 80, 4},
        {"a window 12 rows tall dragged: not worth a move", drag(30, 50, 37, 55, 60, 12), 0,
         200 * kPage, 1},
        // Over a plain background the uncovered pixels equal the moved
        // ones, so the copy takes them along: from (30, 50) by (12, 11), it
        // covers columns 22 on of rows 31 on.
        {"a window dragged 12 right and 11 down over a plain background",
         [](Frame& b, Frame& a) {
             plainPage(b), plainPage(a);
             drag(30, 50, 42, 61, 60, 80)(b, a);
         },
         1, 11 * kPage + 189 * 12, 2},
        {"a pane scrolled up by 8 over a window dragged 10 right and 20 down",
         both(scroll(0, 8, 20, 120), drag(30, 130, 40, 150, 60, 60)), 2,
         8 * kPage + 100 * kPage - 60 * 60, 4},
        // The rectangle's columns left of the page did not change, but a
        // rectangle asked for is encoded wherever no move writes.
        {"a scroll beside a strip that changed colour, in one rectangle: the page's columns move",
         [](Frame& b, Frame& a) {
             showPage(b, 20, 220, 0), showPage(a, 20, 220, 8);
             for (int y = 20; y < 220; ++y)
                 for (int x = kPageRight; x < kWidth; ++x)
                     b[size_t(y * kWidth + x)] = 0x102030, a[size_t(y * kWidth + x)] = 0x405060;
         },
         1,
         8 * kWidth + (kWidth - kPage) * (200 - 8),
         3,
         {0, 20, kWidth, 220}},
        {"a tiled wallpaper one step along both ways: it only looks dragged",
         [](Frame& b, Frame& a) {
             for (int y = 20; y < 220; ++y)
                 for (int x = kPageLeft; x < kPageRight; ++x) {
                     b[size_t(y * kWidth + x)] = pagePixel(y % 8, x % 8);
                     a[size_t(y * kWidth + x)] = pagePixel((y + 3) % 8, (x + 2) % 8);
                 }
         },
         0, 200 * kPage, 1},
    };
    for (const Case& c : cases) {
        Frame before = frame(), after = frame();
        c.paint(before, after);
        const ShadowExtScroll s =
            shadow_ext_find_scroll(bytes(before), bytes(after), kStride, c.rect);
        EXPECT_EQ(clientPicture(before, after, s), after) << c.what;
        EXPECT_EQ(s.moves.size(), c.moves) << c.what;
        EXPECT_EQ(pixels(s.rest), c.restPixels) << c.what;
        EXPECT_EQ(s.rest.size(), c.restRects) << c.what;
    }
}

// Rows or columns that repeat (stripes, blank lines, a grid, a tiled
// background) match at many offsets: with a detailed band moved by the same
// shift in the middle, whatever the finder makes of them, no pixel may come
// out wrong.
TEST(ScrollFinder, RepeatingRowsOrColumnsNeverGiveAWrongPixel) {
    for (const bool rows : {true, false})
        for (int period : {1, 2, 3, 4, 7})
            for (int shift : {-8, -5, -1, 1, 2, 5, 8}) {
                if (rows && shift < 0)
                    continue;
                const int left = rows ? 0 : kPageLeft, right = rows ? kWidth : kPageRight;
                Frame before = frame(), after = frame();
                for (int y = 0; y < kHeight; ++y)
                    for (int x = left; x < right; ++x) {
                        const size_t at = size_t(y * kWidth + x);
                        before[at] = rows ? pagePixel(y % period, x) : pagePixel(y / 8, x % period);
                        after[at] = rows ? pagePixel((y + shift) % period, x)
                                         : pagePixel(y / 8, (x + shift + 64) % period);
                    }
                if (rows)
                    showPage(before, 100, 160, 0), showPage(after, 100, 160, shift);
                else
                    panPage(before, 100, 160, 0, 0), panPage(after, 100, 160, 0, shift);
                const RECTANGLE_16 rect{UINT16(left), 0, UINT16(right), kHeight};
                const ShadowExtScroll s =
                    shadow_ext_find_scroll(bytes(before), bytes(after), kStride, rect);
                EXPECT_EQ(clientPicture(before, after, s), after)
                    << (rows ? "rows " : "columns ") << period << "/" << shift;
            }
}

// A detailed window dragged over a tiled wallpaper: the wallpaper matches
// itself at many distances, and whatever the finder makes of it, no pixel
// may come out wrong, and the window still goes as a copy.
TEST(ScrollFinder, AWindowDraggedOverATiledWallpaperNeverGivesAWrongPixel) {
    const int moved[][2] = {{1, 1}, {-3, 2}, {5, -8}, {8, 8}, {-40, -60}};
    for (int period : {1, 2, 3, 4, 7})
        for (const auto& d : moved) {
            Frame before = frame();
            for (int y = 20; y < 220; ++y)
                for (int x = kPageLeft; x < kPageRight; ++x)
                    before[size_t(y * kWidth + x)] = pagePixel(y % period, x % period);
            Frame after = before;
            drag(70, 110, 70 + d[0], 110 + d[1], 50, 60)(before, after);
            const ShadowExtScroll s =
                shadow_ext_find_scroll(bytes(before), bytes(after), kStride, kPageRect);
            EXPECT_EQ(clientPicture(before, after, s), after)
                << period << "/" << d[0] << "," << d[1];
            EXPECT_FALSE(s.moves.empty()) << period << "/" << d[0] << "," << d[1];
        }
}

// Hashes kept from frame to frame stand for what the client shows: a scroll
// after a change the finder did not hash (a short rectangle) or a rectangle
// of other columns still comes out as one move and its strip, and the
// picture stays exact.
TEST(ScrollFinder, KeptRowHashesFollowEveryChangeOfThePicture) {
    struct Step {
        const char* what;
        RECTANGLE_16 rect;
        std::function<void(Frame& after)> paint;
        size_t moves;
        int restPixels;
    };
    const Step steps[] = {
        {"scrolled by 8", kPageRect, [](Frame& a) { showPage(a, 20, 220, 8); }, 1, 8 * kPage},
        {"20 rows rewritten in a short rectangle",
         {kPageLeft, 100, kPageRight, 120},
         [](Frame& a) { showPage(a, 100, 120, 9000); },
         0,
         20 * kPage},
        {"scrolled by 8 again, the rewritten rows with it", kPageRect,
         [](Frame& a) {
             const Frame was = a;
             showPage(a, 20, 220, 16);
             for (int y = 92; y < 112; ++y)
                 for (int x = kPageLeft; x < kPageRight; ++x)
                     a[size_t(y * kWidth + x)] = was[size_t((y + 8) * kWidth + x)];
         },
         1, 8 * kPage},
        {"a rectangle of other columns rewritten",
         {kPageRight, 20, kWidth, 220},
         [](Frame& a) { showPage(a, 20, 220, 5000, kPageRight, kWidth); },
         0,
         200 * (kWidth - kPageRight)},
        {"the page scrolled by 14, around the rewritten rows", kPageRect,
         [](Frame& a) { showPage(a, 20, 220, 30); }, 2, 34 * kPage},
    };
    Frame before = frame();
    showPage(before, 20, 220, 0);
    ShadowExtRowHashes kept;
    for (const Step& step : steps) {
        Frame after = before;
        step.paint(after);
        const ShadowExtScroll s =
            shadow_ext_find_scroll(bytes(before), bytes(after), kStride, step.rect, &kept);
        EXPECT_EQ(clientPicture(before, after, s), after) << step.what;
        EXPECT_EQ(s.moves.size(), step.moves) << step.what;
        EXPECT_EQ(pixels(s.rest), step.restPixels) << step.what;
        before = after;
    }
}
