// Benchmark: the copies one full-screen frame costs in our capture path,
// against one plain memcpy of the same area. Runs on the X display in
// DISPLAY (the bench uses the server's Xvfb while no server runs).
//
//   bench_copy_compare [--iterations 200]
//
// Stages, each timed on its own (median of the iterations):
//   read     MIT-SHM read of the whole screen into the mirror (ShmReader)
//   pool     the mirror copied into a frame buffer (FramePool::fill)
//   surface  the frame copied into a BGRX32 surface with FreeRDP's
//            freerdp_image_copy_no_overlap, as the frame callback does
//   memcpy   one memcpy of the same number of bytes
// Prints one line of key=value figures in milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <X11/Xlib.h>
#include <freerdp/codec/color.h>
#include <pixman.h>

#include "platform/linux/frame_pool.h"
#include "platform/x11/x11_capture_reader.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace x11 = corvane::platform::x11;

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <typename F> double timeMs(F&& f) {
    const auto t0 = Clock::now();
    f();
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

} // namespace

namespace {

// The reader must be gone before the display closes.
int measure(Display* display, int iterations) {
    const int screen = DefaultScreen(display);
    const int32_t width = DisplayWidth(display, screen);
    const int32_t height = DisplayHeight(display, screen);
    const corvane::platform::Rect area{0, 0, width, height};

    x11::ShmReader reader;
    std::string error;
    if (!reader.open(display, area, error)) {
        std::fprintf(stderr, "copy_compare: %s\n", error.c_str());
        return 1;
    }
    corvane::platform::CaptureSettings settings;
    settings.width = width;
    settings.height = height;
    settings.queueDepth = 3;
    settings.showCursor = false;
    corvane::platform::linuxos::FramePool pool(width, height, settings, [] {});
    pixman_region32_t whole;
    pixman_region32_init_rect(&whole, 0, 0, unsigned(width), unsigned(height));

    const size_t bytes = size_t(width) * height * 4;
    std::vector<uint8_t> surface(bytes), source(bytes), target(bytes);
    std::memset(source.data(), 0x5a, bytes);
    std::memset(target.data(), 0, bytes);
    std::memset(surface.data(), 0, bytes);

    std::vector<double> readMs, poolMs, surfaceMs, memcpyMs;
    for (int i = 0; i < iterations; ++i) {
        readMs.push_back(timeMs([&] { reader.read(area); }));
        corvane::platform::FrameHandle frame;
        poolMs.push_back(timeMs([&] {
            pool.invalidate(whole);
            frame = pool.fill(reader.mirror(), reader.stride(), nullptr, whole);
        }));
        if (!frame) {
            std::fprintf(stderr, "copy_compare: no frame buffer free\n");
            return 1;
        }
        surfaceMs.push_back(timeMs([&] {
            freerdp_image_copy_no_overlap(surface.data(), PIXEL_FORMAT_BGRX32, UINT32(width) * 4, 0,
                                          0, UINT32(width), UINT32(height), frame->pixels,
                                          PIXEL_FORMAT_BGRX32, UINT32(frame->stride), 0, 0, nullptr,
                                          FREERDP_FLIP_NONE);
        }));
        frame.reset();
        memcpyMs.push_back(timeMs([&] { std::memcpy(target.data(), source.data(), bytes); }));
        // Keep the compiler from dropping the copies.
        source[size_t(i) % bytes] ^= target[(size_t(i) * 7) % bytes] ^ surface[size_t(i) % bytes];
    }
    pixman_region32_fini(&whole);
    const double ours = median(poolMs) + median(surfaceMs);
    const double plain = median(memcpyMs);
    std::printf("area=%dx%d iterations=%d read_ms=%.3f pool_ms=%.3f surface_ms=%.3f "
                "ours_ms=%.3f memcpy_ms=%.3f ours_vs_memcpy=%.2f\n",
                width, height, iterations, median(readMs), median(poolMs), median(surfaceMs), ours,
                plain, plain > 0 ? ours / plain : 0.0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    int iterations = 200;
    for (int i = 1; i + 1 < argc; i += 2)
        if (!std::strcmp(argv[i], "--iterations"))
            iterations = std::max(10, std::atoi(argv[i + 1]));
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "copy_compare: cannot open the display\n");
        return 1;
    }
    const int status = measure(display, iterations);
    XCloseDisplay(display);
    return status;
}
