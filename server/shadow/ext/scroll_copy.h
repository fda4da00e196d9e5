// Scrolls sent to a graphics-pipeline client of a tile codec (planar,
// RemoteFX, progressive) as copies inside its own surface. Finding them needs
// what the client shows, which is not the library's surface (it moves on with
// every capture, and a slow client skips frames): each client thread keeps
// its own copy, made whole from a whole frame and brought up to date with
// every part it sends. For the wavelet codecs the copy holds the pictures
// they were given; the client's differs by the codec's loss, and a copy moves
// that loss along with the pixels, adding none.
#pragma once
#include <vector>

#include <freerdp/codec/region.h>
#include <freerdp/server/rdpgfx.h>

#include "scroll_finder.h"

class ShadowExtShownPicture {
  public:
    // A whole frame of the picture went to the client.
    void whole(const BYTE* data, UINT32 format, UINT32 width, UINT32 height, UINT32 stride);
    // A frame this copy cannot follow went: no moves until the next whole one.
    void forget() { known_ = false; }
    // A frame of `rects` (clipped, disjoint) is about to go: the moves found
    // in them are added to `moves`, and what is returned is all that still
    // needs encoding. The copy then holds the frame as the client will.
    std::vector<RECTANGLE_16> part(const std::vector<RECTANGLE_16>& rects, const BYTE* data,
                                   UINT32 format, UINT32 width, UINT32 height, UINT32 stride,
                                   std::vector<ShadowExtMove>* moves);

  private:
    bool follows(UINT32 format, UINT32 width, UINT32 height, UINT32 stride) const;
    void copy(const RECTANGLE_16& r, const BYTE* data);

    bool known_ = false;
    UINT32 format_ = 0, width_ = 0, height_ = 0, stride_ = 0;
    std::vector<BYTE> pixels_;
    ShadowExtRowHashes rowHashes_; // of `pixels_`, where known
};

// The moves as surface-to-surface commands on `surfaceId`, in order.
UINT shadow_ext_send_moves(RdpgfxServerContext* context, UINT16 surfaceId,
                           const std::vector<ShadowExtMove>& moves);
