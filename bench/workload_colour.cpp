// Benchmark workload: changes the colour of the whole X screen at a steady
// rate by setting the root window's background and clearing it.
//
//   workload_colour --hz 20 --seconds 30 --palette ff0000,00ff00,...
//   workload_colour --once 336699
//
// Colours cycle through the palette (neighbours must differ). Changes are
// paced on absolute deadlines so the rate does not drift. On exit (time up,
// SIGTERM or SIGINT) it prints one line: "changes=N seconds=T rate=R".
#include "bench_palette.h"

#include <X11/Xlib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

volatile std::sig_atomic_t gStop = 0;

void onSignal(int) {
    gStop = 1;
}

double seconds(const timespec& t) {
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void addNs(timespec& t, long ns) {
    t.tv_nsec += ns;
    while (t.tv_nsec >= 1000000000L) {
        t.tv_nsec -= 1000000000L;
        t.tv_sec += 1;
    }
}

void paint(Display* display, Window root, unsigned long pixel) {
    XSetWindowBackground(display, root, pixel);
    XClearWindow(display, root);
    XSync(display, False);
}

} // namespace

int main(int argc, char** argv) {
    double hz = 20, duration = 30;
    const char* paletteText = "ff0000,00ff00,0000ff,ffff00,00ffff,ff00ff,ffffff,808080";
    const char* once = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--hz"))
            hz = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seconds"))
            duration = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--palette"))
            paletteText = argv[i + 1];
        else if (!std::strcmp(argv[i], "--once"))
            once = argv[i + 1];
        else {
            std::fprintf(stderr, "workload_colour: unknown option %s\n", argv[i]);
            return 2;
        }
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "workload_colour: cannot open the display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    if (once) {
        paint(display, root, std::strtoul(once, nullptr, 16) & 0xffffffu);
        XCloseDisplay(display);
        return 0;
    }
    const std::vector<uint32_t> palette = parsePalette(paletteText ? paletteText : "");
    if (palette.size() < 2 || hz <= 0 || hz > 1000) {
        std::fprintf(stderr, "workload_colour: need two colours or more and 0 < hz <= 1000\n");
        return 2;
    }
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    const long periodNs = long(1e9 / hz);
    timespec begin{}, next{}, now{};
    clock_gettime(CLOCK_MONOTONIC, &begin);
    next = begin;
    long changes = 0;
    while (!gStop) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (seconds(now) - seconds(begin) >= duration)
            break;
        paint(display, root, palette[size_t(changes) % palette.size()]);
        ++changes;
        addNs(next, periodNs);
        while (!gStop && clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) != 0) {
        }
    }
    clock_gettime(CLOCK_MONOTONIC, &now);
    const double elapsed = seconds(now) - seconds(begin);
    std::printf("changes=%ld seconds=%.3f rate=%.3f\n", changes, elapsed,
                elapsed > 0 ? double(changes) / elapsed : 0.0);
    std::fflush(stdout);
    XCloseDisplay(display);
    return 0;
}
