// The encoder variables: how they are read, and that the H.264 stream
// FreeRDP's codec library produces follows them.
#include <vector>

#include <freerdp/codec/color.h>
#include <freerdp/codec/h264.h>
#include <gtest/gtest.h>

#include "server/shadow/ext/h264_tuning.h"
#include "server/shadow/ext/hook_gate.h"

namespace {

struct Stream {
    int profileIdc = -1; // from the first sequence parameter set
    int keyFrames = 0;   // IDR pictures
};

// Annex B: NAL units after 00 00 01 start codes.
void scan(const BYTE* data, UINT32 size, Stream& stream) {
    for (UINT32 i = 0; i + 3 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1)
            continue;
        const int type = data[i + 3] & 0x1f;
        if (type == 7 && stream.profileIdc < 0 && i + 4 < size)
            stream.profileIdc = data[i + 4];
        if (type == 5)
            ++stream.keyFrames;
        i += 3;
    }
}

// Twelve frames at 5 fps through the codec library, as the shadow server
// encodes them; a small square moves so that every frame differs.
Stream encodeTwelveFrames() {
    constexpr UINT32 kWidth = 128, kHeight = 96, kStride = kWidth * 4;
    Stream stream;
    H264_CONTEXT* h264 = h264_context_new(TRUE);
    if (!h264 || !h264_context_reset(h264, kWidth, kHeight) ||
        !h264_context_set_option(h264, H264_CONTEXT_OPTION_RATECONTROL, H264_RATECONTROL_VBR) ||
        !h264_context_set_option(h264, H264_CONTEXT_OPTION_BITRATE, 1000000) ||
        !h264_context_set_option(h264, H264_CONTEXT_OPTION_FRAMERATE, 5)) {
        h264_context_free(h264);
        return stream;
    }
    std::vector<BYTE> pixels(kStride * kHeight, 0x80);
    const RECTANGLE_16 whole{0, 0, kWidth, kHeight};
    for (UINT32 frame = 0; frame < 12; ++frame) {
        for (UINT32 y = 40; y < 56; ++y)
            for (UINT32 x = 0; x < kWidth; ++x)
                pixels[y * kStride + x * 4] = (x / 16 == frame % 8) ? 0xff : 0x20;
        BYTE* data = nullptr;
        UINT32 size = 0;
        RDPGFX_H264_METABLOCK meta{};
        if (avc420_compress(h264, pixels.data(), PIXEL_FORMAT_BGRX32, kStride, kWidth, kHeight,
                            &whole, &data, &size, &meta) > 0)
            scan(data, size, stream);
        free_h264_metablock(&meta);
    }
    h264_context_free(h264);
    return stream;
}

} // namespace

TEST(H264Tuning, VariablesAreReadWithTheirBoundsAndDefaults) {
    struct Case {
        const char *bitrate, *profile, *gop, *hardware, *fps;
        UINT32 bitRate, frameRate;
        ShadowExtH264Profile expectedProfile;
        UINT32 keyFrameSeconds;
        BOOL hardwareWanted;
    } cases[] = {
        {nullptr, nullptr, nullptr, nullptr, nullptr, 10000000, 30,
         SHADOW_EXT_H264_PROFILE_BASELINE, 0, TRUE},
        {"20", "main", "2", "0", "15", 20000000, 15, SHADOW_EXT_H264_PROFILE_MAIN, 2, FALSE},
        {"40x", "high", "3600", "1", "60", 40000000, 60, SHADOW_EXT_H264_PROFILE_HIGH, 3600, TRUE},
        {"0", "High", "0", "", "0", 10000000, 30, SHADOW_EXT_H264_PROFILE_BASELINE, 0, TRUE},
        {"1001", " main", "3601", "00", "61", 10000000, 30, SHADOW_EXT_H264_PROFILE_BASELINE, 0,
         FALSE},
        {"-5", "mainline", "-2", "yes", "1", 10000000, 1, SHADOW_EXT_H264_PROFILE_BASELINE, 0,
         TRUE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.bitrate ? c.bitrate : "(unset)") << " "
                                        << (c.profile ? c.profile : "(unset)"));
        const ShadowExtH264Tuning t =
            shadow_ext_h264_tuning_from(c.bitrate, c.profile, c.gop, c.hardware, c.fps);
        EXPECT_EQ(t.bitRate, c.bitRate);
        EXPECT_EQ(t.frameRate, c.frameRate);
        EXPECT_EQ(t.profile, c.expectedProfile);
        EXPECT_EQ(t.keyFrameSeconds, c.keyFrameSeconds);
        EXPECT_EQ(t.hardwareWanted, c.hardwareWanted);
    }
}

// The contract of the h264-tuning hook with the real codec library: the
// profile and key frames asked for are read back from the bitstream.
TEST(H264Tuning, TheEncoderFollowsProfileAndKeyFrameInterval) {
    if (shadow_ext_hook_unverified(SHADOW_EXT_H264_TUNING))
        GTEST_SKIP() << "h264-tuning is not verified on this FreeRDP version";
    struct Case {
        const char *profile, *gop; // null: the library's own configuration
        int profileIdc, keyFrames;
    } cases[] = {
        {nullptr, nullptr, 100, 1}, // libx264 under the codec library: High, one key frame
        {"baseline", nullptr, 66, 1},
        {"main", "1", 77, 3}, // 1 s at 5 fps: frames 0, 5 and 10
        {"high", "2", 100, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profile ? c.profile : "library");
        if (c.profile) {
            const ShadowExtH264Tuning t =
                shadow_ext_h264_tuning_from("1", c.profile, c.gop, "0", "5");
            shadow_ext_h264_set_tuning(&t);
        } else {
            shadow_ext_h264_set_tuning(nullptr);
        }
        const Stream stream = encodeTwelveFrames();
        EXPECT_EQ(stream.profileIdc, c.profileIdc);
        EXPECT_EQ(stream.keyFrames, c.keyFrames);
    }
    shadow_ext_h264_set_tuning(nullptr);
}
