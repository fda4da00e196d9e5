// Scrolls found in a changed rectangle. Most heavy changes on a desktop are
// content moving up or down (pages, editors, terminals, lists): the client
// already holds those pixels, one row band higher or lower, and a copy inside
// its own surface (the graphics pipeline's SurfaceToSurface) costs a few
// bytes where an encoded picture costs kilobytes.
//
// Use: send the moves in order, inside the frame and before its surface
// commands, then encode only `rest` from the new frame. The client's picture
// over the rectangle is then exactly the new frame's: each move was checked
// pixel for pixel, and no move reads pixels an earlier move has written.
// Content panned sideways (wide sheets, long lines, maps) moves the same way
// along its rows, and a window dragged across the desktop as a block of its
// own columns and rows.
// `before` must be what the client shows, i.e. the last frame sent to it.
#pragma once
#include <vector>

#include <freerdp/codec/region.h>

// A block moved within the rectangle: `source` in the frame before, its
// top-left now at (toX, toY). Vertical moves keep toX == source.left,
// sideways ones toY == source.top; block moves (diagonal, or vertical within
// some of the rectangle's columns) cover only some of its columns.
struct ShadowExtMove {
    RECTANGLE_16 source;
    UINT16 toX, toY;
};

struct ShadowExtScroll {
    std::vector<ShadowExtMove> moves; // applied in this order
    std::vector<RECTANGLE_16> rest;   // still to encode, disjoint, by top
};

// Row hashes of what the client shows over one column span, kept by the
// caller from one frame to the next: the rows a frame hashed as new are the
// next frame's old rows, so each row is hashed once.
struct ShadowExtRowHashes {
    UINT16 left = 0, right = 0;
    std::vector<uint64_t> hash; // by row of the frame
    std::vector<bool> known;
    void clear() { known.assign(known.size(), false); }
};

// Fewer rows moving together than this are not worth a copy.
constexpr UINT16 kShadowExtScrollMinRows = 16;
// Nor fewer columns that stay in view when rows move sideways.
constexpr UINT16 kShadowExtScrollMinColumns = 16;

// Looks for vertical moves of up to a few different offsets within `rect`
// of two 32-bit frames of the same layout (`stride` bytes a row), then for
// sideways ones among the rows no vertical move explains, then for blocks
// moved within some of the columns (windows dragged; a page scrolled beside
// a strip that changed otherwise) among the rows left. Without a
// move worth sending, `rest` is the whole rectangle. With `kept`, old rows it
// knows (over this rectangle's columns) are not hashed again, and it then
// describes `after` over the rectangle's rows; the caller forgets it whenever
// `before` changes otherwise.
ShadowExtScroll shadow_ext_find_scroll(const BYTE* before, const BYTE* after, UINT32 stride,
                                       const RECTANGLE_16& rect,
                                       ShadowExtRowHashes* kept = nullptr);
