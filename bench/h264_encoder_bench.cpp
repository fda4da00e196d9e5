// H.264 encoder configurations side by side: CPU per encoded frame, bytes
// per frame and the decoded picture against its source, for a colour-change
// and a scrolling workload, through FreeRDP's codec library exactly as the
// shadow server calls it (with the extension layer's encoder settings).
//
//   h264_encoder_bench [--frames N] [--runs R] [--size WxH] [--mbps M] [--avc444]
//
// Prints one line per configuration and workload: the median and the range
// over the runs of the CPU per frame, then size and picture figures.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <freerdp/codec/color.h>
#include <freerdp/codec/h264.h>

#include "server/shadow/ext/h264_tuning.h"

namespace {

constexpr UINT32 kStep = 16; // scroll step and text line height

struct Options {
    UINT32 width = 1280, height = 800, frames = 90, runs = 3, mbps = 10;
    bool avc444 = false;
};

struct Config {
    const char* name;
    bool library; // the codec library's own configuration
    const char* profile;
    const char* preset;
    UINT32 threads;
    bool cqp; // the codec library's "constant QP" rate control
};

// Dark glyph-like strokes on a light background, one 8x16 cell at a time,
// the same for the same line number.
void drawTextLine(BYTE* row0, UINT32 stride, UINT32 width, UINT32 line) {
    UINT32 seed = line * 2654435761u + 1;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (UINT32 y = 0; y < kStep; ++y)
        std::memset(row0 + y * stride, 0xf0, width * 4);
    const UINT32 used = 8 * (20 + next() % ((width / 8) - 20));
    for (UINT32 cell = 0; cell * 8 < std::min(used, width); ++cell) {
        if (next() % 7 == 0)
            continue; // a space
        const UINT32 glyph = next();
        for (UINT32 y = 3; y < 14; ++y)
            for (UINT32 x = 1; x < 7; ++x)
                if ((glyph >> ((y * 7 + x) % 31)) & 1) {
                    BYTE* p = row0 + y * stride + (cell * 8 + x) * 4;
                    p[0] = 0x30, p[1] = 0x20, p[2] = 0x10;
                }
    }
}

// Frame `n` of a workload into `pixels` (BGRX, rows top-down).
void drawFrame(const char* workload, UINT32 n, const Options& o, std::vector<BYTE>& pixels) {
    const UINT32 stride = o.width * 4;
    if (std::strcmp(workload, "scroll") == 0) {
        // A full-screen terminal moved up one line per frame.
        for (UINT32 line = 0; line < o.height / kStep; ++line)
            drawTextLine(&pixels[line * kStep * stride], stride, o.width, line + n);
        return;
    }
    // The desktop's colour changes every frame; a text window stays put.
    static const UINT32 palette[8] = {0x3366cc, 0xcc3322, 0x22aa44, 0xeeee22,
                                      0x8822cc, 0x22cccc, 0x444444, 0xdddddd};
    const UINT32 rgb = palette[n % 8];
    for (UINT32 y = 0; y < o.height; ++y)
        for (UINT32 x = 0; x < o.width; ++x) {
            BYTE* p = &pixels[y * stride + x * 4];
            p[0] = rgb & 0xff, p[1] = (rgb >> 8) & 0xff, p[2] = rgb >> 16, p[3] = 0xff;
        }
    const UINT32 left = o.width / 8, top = o.height / 8;
    for (UINT32 line = 0; line < (o.height / 2) / kStep; ++line)
        drawTextLine(&pixels[(top + line * kStep) * stride + left * 4], stride, o.width / 2, line);
}

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Picture {
    double sumSq = 0;
    double worstPsnr = 1e9;
    uint64_t channels = 0, far = 0; // channel values off by more than 8
    int maxDiff = 0;
};

void comparePicture(const std::vector<BYTE>& src, const std::vector<BYTE>& out, Picture& pic) {
    double frameSq = 0;
    uint64_t n = 0;
    for (size_t i = 0; i < src.size(); i += 4)
        for (size_t c = 0; c < 3; ++c, ++n) {
            const int d = std::abs(int(src[i + c]) - int(out[i + c]));
            frameSq += double(d) * d;
            pic.far += d > 8;
            pic.maxDiff = std::max(pic.maxDiff, d);
        }
    pic.sumSq += frameSq;
    pic.channels += n;
    const double mse = frameSq / double(n);
    pic.worstPsnr = std::min(pic.worstPsnr, mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99.0);
}

struct Run {
    double cpuMsPerFrame = 0;
    double bytesPerFrame = 0;
    Picture picture;
    bool ok = false;
};

H264_CONTEXT* newEncoder(const Config& c, const Options& o) {
    H264_CONTEXT* h264 = h264_context_new(TRUE);
    if (!h264 || !h264_context_reset(h264, o.width, o.height) ||
        !h264_context_set_option(h264, H264_CONTEXT_OPTION_RATECONTROL,
                                 c.cqp ? H264_RATECONTROL_CQP : H264_RATECONTROL_VBR) ||
        !h264_context_set_option(h264, H264_CONTEXT_OPTION_BITRATE, o.mbps * 1000000) ||
        !h264_context_set_option(h264, H264_CONTEXT_OPTION_FRAMERATE, 30) ||
        !h264_context_set_option(h264, H264_CONTEXT_OPTION_QP, 0)) {
        h264_context_free(h264);
        return nullptr;
    }
    return h264;
}

Run encodeRun(const Config& c, const char* workload, const Options& o) {
    Run run;
    if (c.library) {
        shadow_ext_h264_set_tuning(nullptr);
    } else {
        const std::string mbps = std::to_string(o.mbps);
        ShadowExtH264Tuning t =
            shadow_ext_h264_tuning_from(mbps.c_str(), c.profile, nullptr, "0", "30");
        t.preset = c.preset;
        t.threads = c.threads;
        shadow_ext_h264_set_tuning(&t);
    }
    H264_CONTEXT* encoder = newEncoder(c, o);
    H264_CONTEXT* decoder = h264_context_new(FALSE);
    if (!encoder || !decoder || !h264_context_reset(decoder, o.width, o.height)) {
        h264_context_free(encoder);
        h264_context_free(decoder);
        return run;
    }
    const UINT32 stride = o.width * 4;
    std::vector<BYTE> src(size_t(stride) * o.height), out(src.size());
    const RECTANGLE_16 whole{0, 0, static_cast<UINT16>(o.width), static_cast<UINT16>(o.height)};
    double cpu = 0, bytes = 0;
    UINT32 encoded = 0;
    for (UINT32 n = 0; n < o.frames; ++n) {
        drawFrame(workload, n, o, src);
        RDPGFX_H264_METABLOCK meta{}, auxMeta{};
        BYTE *data = nullptr, *aux = nullptr, op = 0;
        UINT32 size = 0, auxSize = 0;
        const double start = cpuSeconds();
        INT32 rc = 0;
        if (o.avc444)
            rc =
                avc444_compress(encoder, src.data(), PIXEL_FORMAT_BGRX32, stride, o.width, o.height,
                                2, &whole, &op, &data, &size, &aux, &auxSize, &meta, &auxMeta);
        else
            rc = avc420_compress(encoder, src.data(), PIXEL_FORMAT_BGRX32, stride, o.width,
                                 o.height, &whole, &data, &size, &meta);
        cpu += cpuSeconds() - start;
        if (rc > 0) {
            ++encoded;
            bytes += size + auxSize;
            INT32 dec = 0;
            if (o.avc444)
                dec = avc444_decompress(decoder, op, meta.regionRects, meta.numRegionRects, data,
                                        size, auxMeta.regionRects, auxMeta.numRegionRects, aux,
                                        auxSize, out.data(), PIXEL_FORMAT_BGRX32, stride, o.width,
                                        o.height, RDPGFX_CODECID_AVC444v2);
            else
                dec = avc420_decompress(decoder, data, size, out.data(), PIXEL_FORMAT_BGRX32,
                                        stride, o.width, o.height, &whole, 1);
            if (dec >= 0)
                comparePicture(src, out, run.picture);
        }
        free_h264_metablock(&meta);
        free_h264_metablock(&auxMeta);
    }
    h264_context_free(encoder);
    h264_context_free(decoder);
    run.ok = encoded > 0 && run.picture.channels > 0;
    run.cpuMsPerFrame = 1000 * cpu / o.frames;
    run.bytesPerFrame = encoded ? bytes / encoded : 0;
    return run;
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--avc444")
            o.avc444 = true;
        else if (a == "--frames" && v)
            o.frames = static_cast<UINT32>(std::strtoul(argv[++i], nullptr, 10));
        else if (a == "--mbps" && v)
            o.mbps = static_cast<UINT32>(std::strtoul(argv[++i], nullptr, 10));
        else if (a == "--runs" && v)
            o.runs = static_cast<UINT32>(std::strtoul(argv[++i], nullptr, 10));
        else if (a == "--size" && v && std::sscanf(argv[++i], "%ux%u", &o.width, &o.height) == 2)
            continue;
        else
            return false;
    }
    return o.frames > 0 && o.runs > 0 && o.mbps >= 1 && o.mbps <= 1000 && o.width >= 64 &&
           o.height >= 64 && o.width % 16 == 0 && o.height % 16 == 0;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: %s [--frames N] [--runs R] [--size WxH] [--mbps M] [--avc444]\n",
                     argv[0]);
        return 2;
    }
    const Config configs[] = {
        {"library (medium, High)", true, nullptr, nullptr, 0, false},
        {"library CQP", true, nullptr, nullptr, 0, true},
        {"baseline medium", false, "baseline", nullptr, 0, false},
        {"baseline veryfast", false, "baseline", "veryfast", 0, false},
        {"high veryfast", false, "high", "veryfast", 0, false},
        {"baseline superfast", false, "baseline", "superfast", 0, false},
        {"baseline ultrafast", false, "baseline", "ultrafast", 0, false},
        {"main ultrafast", false, "main", "ultrafast", 0, false},
        {"high ultrafast", false, "high", "ultrafast", 0, false},
        {"baseline ultrafast 1 thread", false, "baseline", "ultrafast", 1, false},
    };
    std::printf("%ux%u, %u frames, %u runs, %s, %u Mbit/s at 30 fps\n", o.width, o.height, o.frames,
                o.runs, o.avc444 ? "AVC444v2" : "AVC420", o.mbps);
    std::printf("%-28s %-7s %9s %15s %9s %8s %8s %6s %7s\n", "config", "work", "cpu ms/f",
                "(min-max)", "KB/frame", "PSNR dB", "worst dB", "max", ">8 %");
    for (const char* workload : {"colour", "scroll"}) {
        for (const Config& c : configs) {
            std::vector<Run> runs;
            for (UINT32 r = 0; r < o.runs; ++r)
                runs.push_back(encodeRun(c, workload, o));
            std::vector<double> cpu;
            for (const Run& r : runs)
                if (r.ok)
                    cpu.push_back(r.cpuMsPerFrame);
            if (cpu.empty()) {
                std::printf("%-28s %-7s failed\n", c.name, workload);
                continue;
            }
            std::sort(cpu.begin(), cpu.end());
            const Run& last = runs.back();
            const Picture& p = last.picture;
            const double mse = p.sumSq / double(p.channels);
            std::printf("%-28s %-7s %9.2f %7.2f-%-7.2f %9.1f %8.2f %8.2f %6d %7.3f\n", c.name,
                        workload, cpu[cpu.size() / 2], cpu.front(), cpu.back(),
                        last.bytesPerFrame / 1024, 10 * std::log10(255.0 * 255.0 / mse),
                        p.worstPsnr, p.maxDiff, 100.0 * double(p.far) / double(p.channels));
            std::fflush(stdout);
        }
    }
    shadow_ext_h264_set_tuning(nullptr);
    return 0;
}
