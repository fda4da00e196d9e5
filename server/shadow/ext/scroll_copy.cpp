#include "scroll_copy.h"

#include <cstring>

#include <freerdp/codec/color.h>

void ShadowExtShownPicture::whole(const BYTE* data, UINT32 format, UINT32 width, UINT32 height,
                                  UINT32 stride) {
    known_ = data && FreeRDPGetBytesPerPixel(format) == 4 && stride >= width * 4;
    if (!known_)
        return;
    format_ = format;
    width_ = width;
    height_ = height;
    stride_ = stride;
    pixels_.assign(data, data + size_t(stride) * height);
    rowHashes_.clear();
}

bool ShadowExtShownPicture::follows(UINT32 format, UINT32 width, UINT32 height,
                                    UINT32 stride) const {
    return known_ && format == format_ && width == width_ && height == height_ && stride == stride_;
}

void ShadowExtShownPicture::copy(const RECTANGLE_16& r, const BYTE* data) {
    const size_t left = size_t(r.left) * 4, bytes = size_t(r.right - r.left) * 4;
    for (UINT32 y = r.top; y < r.bottom; ++y)
        std::memcpy(pixels_.data() + size_t(y) * stride_ + left, data + size_t(y) * stride_ + left,
                    bytes);
}

std::vector<RECTANGLE_16> ShadowExtShownPicture::part(const std::vector<RECTANGLE_16>& rects,
                                                      const BYTE* data, UINT32 format,
                                                      UINT32 width, UINT32 height, UINT32 stride,
                                                      std::vector<ShadowExtMove>* moves) {
    if (!data || !follows(format, width, height, stride)) {
        known_ = false;
        return rects;
    }
    std::vector<RECTANGLE_16> rest;
    for (const RECTANGLE_16& r : rects) {
        ShadowExtScroll found = shadow_ext_find_scroll(pixels_.data(), data, stride_, r, &rowHashes_);
        moves->insert(moves->end(), found.moves.begin(), found.moves.end());
        rest.insert(rest.end(), found.rest.begin(), found.rest.end());
    }
    // Each rectangle's moves read only its own rows of the copy, so copying
    // after all of them were found keeps them right.
    for (const RECTANGLE_16& r : rects)
        copy(r, data);
    return rest;
}

UINT shadow_ext_send_moves(RdpgfxServerContext* context, UINT16 surfaceId,
                           const std::vector<ShadowExtMove>& moves) {
    for (const ShadowExtMove& m : moves) {
        RDPGFX_POINT16 to = {m.toX, m.toY};
        RDPGFX_SURFACE_TO_SURFACE_PDU pdu = {surfaceId, surfaceId, m.source, 1, &to};
        const UINT status = context->SurfaceToSurface(context, &pdu);
        if (status != CHANNEL_RC_OK)
            return status;
    }
    return CHANNEL_RC_OK;
}
