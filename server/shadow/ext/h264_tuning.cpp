#include "h264_tuning.h"
#include "hook_gate.h"

#include <cstring>
#include <mutex>
#include <string>

#include <dlfcn.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <freerdp/log.h>

#include "base/env.h"

#define TAG SERVER_TAG("shadow.ext.h264")

namespace {

// The cheapest libx264 configuration measured for the same picture of
// desktop content: "ultrafast" costs a third to an eighth of the library's
// "medium" per frame (bench/README.md, "Encoder"). x264 keeps its own
// thread count; one thread measured no cheaper.
constexpr const char* kPreset = "ultrafast";
constexpr UINT32 kThreads = 0;

std::mutex gTuningLock;
ShadowExtH264Tuning gTuning{}; // all zero: leave the library's configuration

const char* profileName(ShadowExtH264Profile profile) {
    switch (profile) {
    case SHADOW_EXT_H264_PROFILE_BASELINE:
        return "baseline";
    case SHADOW_EXT_H264_PROFILE_MAIN:
        return "main";
    case SHADOW_EXT_H264_PROFILE_HIGH:
        return "high";
    default:
        return nullptr;
    }
}

// The key-frame interval in frames at the rate the encoder was opened with.
int keyFrameInterval(const AVCodecContext* context, const ShadowExtH264Tuning& tuning) {
    double fps = tuning.frameRate;
    if (context->framerate.num > 0 && context->framerate.den > 0)
        fps = static_cast<double>(context->framerate.num) / context->framerate.den;
    const double frames = fps * tuning.keyFrameSeconds;
    return frames < 1 ? 1 : frames > 1e6 ? 1000000 : static_cast<int>(frames + 0.5);
}

void applyTuning(AVCodecContext* context) {
    const ShadowExtH264Tuning tuning = shadow_ext_h264_tuning();
    if (const char* name = profileName(tuning.profile))
        av_opt_set(context, "profile", name, AV_OPT_SEARCH_CHILDREN);
    if (tuning.preset)
        av_opt_set(context, "preset", tuning.preset, AV_OPT_SEARCH_CHILDREN);
    if (tuning.threads)
        context->thread_count = static_cast<int>(tuning.threads);
    std::string params;
    auto add = [&params](const char* param) {
        if (!params.empty())
            params += ':';
        params += param;
    };
    // The fastest presets leave out every coding tool beyond baseline; a
    // profile that permits them asks for its own back (arithmetic coding,
    // and for high the 8x8 transform), trading CPU for bits.
    if (tuning.preset && tuning.profile >= SHADOW_EXT_H264_PROFILE_MAIN)
        add("cabac=1");
    if (tuning.preset && tuning.profile == SHADOW_EXT_H264_PROFILE_HIGH)
        add("8x8dct=1");
    if (tuning.keyFrameSeconds) {
        context->gop_size = keyFrameInterval(context, tuning);
        // A key frame on the interval only, not also at every scene change
        // of a colour-flipping desktop.
        add("scenecut=0");
    }
    if (!params.empty())
        av_opt_set(context, "x264-params", params.c_str(), AV_OPT_SEARCH_CHILDREN);
    WLog_DBG(TAG, "H.264 encoder opened: %dx%d, %d bit/s, profile %s, preset %s, key frame %d",
             context->width, context->height, static_cast<int>(context->bit_rate),
             profileName(tuning.profile) ? profileName(tuning.profile) : "(encoder's)",
             tuning.preset ? tuning.preset : "(library's)", context->gop_size);
}

using OpenFn = int (*)(AVCodecContext*, const AVCodec*, AVDictionary**);

} // namespace

extern "C" ShadowExtH264Tuning shadow_ext_h264_tuning_from(const char* bitrateMbps,
                                                           const char* profile,
                                                           const char* keyFrameSeconds,
                                                           const char* hardware, const char* fps) {
    ShadowExtH264Tuning tuning{};
    const int64_t mbps = bitrateMbps ? mac_env::leadingInt(bitrateMbps) : 10;
    tuning.bitRate = static_cast<UINT32>((mbps >= 1 && mbps <= 1000 ? mbps : 10) * 1000000);
    tuning.frameRate = static_cast<UINT32>(mac_env::fpsFrom(fps));
    tuning.profile = SHADOW_EXT_H264_PROFILE_BASELINE;
    if (profile && std::strcmp(profile, "main") == 0)
        tuning.profile = SHADOW_EXT_H264_PROFILE_MAIN;
    else if (profile && std::strcmp(profile, "high") == 0)
        tuning.profile = SHADOW_EXT_H264_PROFILE_HIGH;
    const int64_t seconds = mac_env::leadingInt(keyFrameSeconds);
    tuning.keyFrameSeconds = seconds >= 1 && seconds <= 3600 ? static_cast<UINT32>(seconds) : 0;
    tuning.hardwareWanted = !mac_env::firstIs(hardware, '0');
    tuning.preset = kPreset;
    tuning.threads = kThreads;
    return tuning;
}

extern "C" void shadow_ext_h264_set_tuning(const ShadowExtH264Tuning* tuning) {
    std::lock_guard lock(gTuningLock);
    gTuning = tuning ? *tuning : ShadowExtH264Tuning{};
}

extern "C" ShadowExtH264Tuning shadow_ext_h264_tuning(void) {
    std::lock_guard lock(gTuningLock);
    return gTuning;
}

extern "C" BOOL shadow_ext_h264_configure(rdpShadowServer* server) {
    if (!server)
        return FALSE;
    const ShadowExtH264Tuning tuning = shadow_ext_h264_tuning_from(
        mac_env::raw("MAC_SHADOW_BITRATE_MBPS"), mac_env::raw("MAC_SHADOW_H264_PROFILE"),
        mac_env::raw("MAC_SHADOW_H264_GOP_SEC"), mac_env::raw("FREERDP_VIDEOTOOLBOX_ENCODER"),
        mac_env::raw("MAC_SHADOW_FPS"));
    server->h264BitRate = tuning.bitRate;
    server->h264FrameRate = tuning.frameRate;
    shadow_ext_h264_set_tuning(&tuning);
    const char* hardware = tuning.hardwareWanted ? ", the codec library has no hardware encoder" : "";
    const auto mbps = static_cast<unsigned>(tuning.bitRate / 1000000);
    const auto fps = static_cast<unsigned>(tuning.frameRate);
    if (!shadow_ext_hook_on(SHADOW_EXT_H264_TUNING)) {
        WLog_INFO(TAG, "H.264 in software (libx264)%s: %u Mbit/s at %u fps, profile, key frames "
                       "and preset the library's own", hardware, mbps, fps);
        return TRUE;
    }
    char keyFrames[32] = "the encoder's own";
    if (tuning.keyFrameSeconds)
        std::snprintf(keyFrames, sizeof keyFrames, "every %u s",
                      static_cast<unsigned>(tuning.keyFrameSeconds));
    WLog_INFO(TAG,
              "H.264 in software (libx264)%s: %u Mbit/s at %u fps, profile %s, key frames %s, "
              "preset %s",
              hardware, mbps, fps, profileName(tuning.profile), keyFrames,
              tuning.preset ? tuning.preset : "medium");
    return TRUE;
}

// FreeRDP's codec library opens its H.264 encoder through this function;
// FFmpeg's own comes next in the search order.
extern "C" int avcodec_open2(AVCodecContext* context, const AVCodec* codec,
                             AVDictionary** options) {
    static const auto ffmpegOpen = reinterpret_cast<OpenFn>(dlsym(RTLD_NEXT, "avcodec_open2"));
    if (!ffmpegOpen)
        return AVERROR(ENOSYS);
    const AVCodec* opened = codec ? codec : context ? context->codec : nullptr;
    if (shadow_ext_hook_on(SHADOW_EXT_H264_TUNING) && context && opened &&
        opened->id == AV_CODEC_ID_H264 && opened->name &&
        std::strcmp(opened->name, "libx264") == 0)
        applyTuning(context);
    return ffmpegOpen(context, codec, options);
}
