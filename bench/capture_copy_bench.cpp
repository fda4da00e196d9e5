// Benchmark: reading and copying one damaged rectangle through the X11
// capture path, against a plain memcpy of the same area.
//
//   bench_capture_copy [--iterations 200]
//
// Uses the display in DISPLAY, or starts a private 1280x800 Xvfb on :59.
// For each rectangle size it times (median over the iterations):
//   read    MIT-SHM read of the damaged area into the mirror (ShmReader)
//   fill    the changed area copied from the mirror into a pooled frame
//           buffer (FramePool::fill)
//   memcpy  the same rows copied between two plain buffers
// and prints one line per size with the figures in microseconds.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xlib.h>
#include <pixman.h>

#include "platform/linux/frame_pool.h"
#include "platform/x11/x11_capture_reader.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace platform = corvane::platform;
namespace x11 = corvane::platform::x11;

double micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// A private Xvfb when no display is given; killed at exit.
pid_t startXvfb() {
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        std::freopen("/dev/null", "w", stderr);
        execlp("Xvfb", "Xvfb", ":59", "-screen", "0", "1280x800x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    setenv("DISPLAY", ":59", 1);
    for (int i = 0; i < 250; ++i) {
        if (Display* d = XOpenDisplay(nullptr)) {
            XCloseDisplay(d);
            return pid;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    return -1;
}

struct Figures {
    double read, fill, copy;
};

Figures measure(Display* display, x11::ShmReader& reader,
                corvane::platform::linuxos::FramePool& pool, const platform::Rect& area,
                int iterations) {
    const int width = DisplayWidth(display, DefaultScreen(display));
    std::vector<uint32_t> from(size_t(width) * DisplayHeight(display, DefaultScreen(display)), 1);
    std::vector<uint32_t> to(from.size(), 0);
    std::vector<double> reads, fills, copies;
    pixman_region32_t dirty;
    pixman_region32_init_rect(&dirty, area.x, area.y, unsigned(area.width), unsigned(area.height));
    for (int i = 0; i < iterations; ++i) {
        auto t0 = Clock::now();
        reader.read(area);
        auto t1 = Clock::now();
        pool.invalidate(dirty);
        platform::FrameHandle frame = pool.fill(reader.mirror(), reader.stride(), nullptr, dirty);
        auto t2 = Clock::now();
        frame.reset();
        for (int y = area.y; y < area.y + area.height; ++y)
            std::memcpy(&to[size_t(y) * width + area.x], &from[size_t(y) * width + area.x],
                        size_t(area.width) * 4);
        auto t3 = Clock::now();
        reads.push_back(micros(t1 - t0));
        fills.push_back(micros(t2 - t1));
        copies.push_back(micros(t3 - t2));
    }
    pixman_region32_fini(&dirty);
    return {median(reads), median(fills), median(copies)};
}

} // namespace

int main(int argc, char** argv) {
    int iterations = 200;
    if (argc == 3 && std::strcmp(argv[1], "--iterations") == 0)
        iterations = std::max(1, std::atoi(argv[2]));
    pid_t xvfb = -1;
    const char* given = std::getenv("DISPLAY");
    if (!given || !*given)
        xvfb = startXvfb();
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "bench_capture_copy: no X display\n");
        return 1;
    }
    const int width = DisplayWidth(display, DefaultScreen(display));
    const int height = DisplayHeight(display, DefaultScreen(display));
    {
        x11::ShmReader reader;
        std::string error;
        if (!reader.open(display, {0, 0, width, height}, error)) {
            std::fprintf(stderr, "bench_capture_copy: %s\n", error.c_str());
            return 1;
        }
        platform::CaptureSettings settings;
        settings.width = width;
        settings.height = height;
        corvane::platform::linuxos::FramePool pool(width, height, settings, [] {});
        const platform::Rect areas[] = {{0, 0, width, height},
                                        {0, 0, width / 2, height / 2},
                                        {100, 100, 256, 256},
                                        {300, 200, 64, 64},
                                        {10, 10, 16, 16}};
        std::printf("screen=%dx%d iterations=%d (microseconds, median)\n", width, height,
                    iterations);
        for (const auto& area : areas) {
            const Figures f = measure(display, reader, pool, area, iterations);
            std::printf("rect=%dx%d read=%.1f fill=%.1f memcpy=%.1f fill_vs_memcpy=%.2f\n",
                        area.width, area.height, f.read, f.fill, f.copy,
                        f.copy > 0 ? f.fill / f.copy : 0.0);
        }
    } // the reader detaches while the connection is open
    XCloseDisplay(display);
    if (xvfb > 0) {
        kill(xvfb, SIGTERM);
        waitpid(xvfb, nullptr, 0);
    }
    return 0;
}
