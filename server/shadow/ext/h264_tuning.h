// H.264 encoder settings of the server: bit rate, frame rate, profile,
// key-frame interval, and the encoder configuration measured to be the
// cheapest for the same picture (bench/README.md, "Encoder").
//
// FreeRDP's codec library takes the bit rate and frame rate through the
// shadow server's public fields. It has no way to pass a profile, a
// key-frame interval or encoder options to the encoder it opens (FFmpeg's
// libx264 in the packaged build; no OpenH264 and no hardware encoder are
// built in). This layer therefore defines avcodec_open2 itself: the codec
// library's call lands here first, the settings are put on the libx264
// context, and FFmpeg's own function opens it. Any other codec passes
// through untouched.
#pragma once
#include <freerdp/server/shadow.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    SHADOW_EXT_H264_PROFILE_ENCODER = 0, // the encoder's own choice
    SHADOW_EXT_H264_PROFILE_BASELINE,
    SHADOW_EXT_H264_PROFILE_MAIN,
    SHADOW_EXT_H264_PROFILE_HIGH,
} ShadowExtH264Profile;

typedef struct {
    UINT32 bitRate;   // bits per second
    UINT32 frameRate; // frames per second the encoder plans for
    ShadowExtH264Profile profile;
    UINT32 keyFrameSeconds; // 0: the encoder's own interval
    BOOL hardwareWanted;    // the hardware encoder was asked for
    const char* preset;     // libx264 preset (a static string); null keeps the library's
    UINT32 threads;         // encoder threads; 0 keeps the encoder's own
} ShadowExtH264Tuning;

// The settings from the raw values of MAC_SHADOW_BITRATE_MBPS,
// MAC_SHADOW_H264_PROFILE, MAC_SHADOW_H264_GOP_SEC,
// FREERDP_VIDEOTOOLBOX_ENCODER and MAC_SHADOW_FPS (null when unset):
//   bit rate 1-1000 Mbit/s, else 10;
//   profile exactly "baseline", "main" or "high", else baseline;
//   key frame every 1-3600 s, else the encoder's own interval;
//   hardware encoder wanted unless the value begins with "0";
//   frame rate as the capture's (1-60, else 30);
// plus the measured cheapest encoder configuration.
ShadowExtH264Tuning shadow_ext_h264_tuning_from(const char* bitrateMbps, const char* profile,
                                                const char* keyFrameSeconds, const char* hardware,
                                                const char* fps);

// What H.264 encoders opened from now on use. The state before the first
// call leaves every encoder as the codec library configures it.
void shadow_ext_h264_set_tuning(const ShadowExtH264Tuning* tuning);
ShadowExtH264Tuning shadow_ext_h264_tuning(void);

// Reads the environment, sets the server's bit rate and frame rate, keeps
// the rest for the encoders and logs the configuration. Call before
// shadow_server_start.
BOOL shadow_ext_h264_configure(rdpShadowServer* server);

#ifdef __cplusplus
}
#endif
