// Benchmark probe for the delay users feel. One process holds both ends, so
// both instants come from one clock:
//
//   latency --mode change --server-display :80 --client-display :81 --x 100 --y 760
//       paints the server desktop's root window in the next palette colour and
//       times until the client's window shows that colour at (x, y);
//   latency --mode key --server-display :80 --client-display :81 --x 1100 --y 640
//           --palette ffa500,4b0082
//       types a key into the client's window (XTEST on the client's display)
//       and times until the client shows the other colour of bench_key_echo's
//       window at (x, y).
//
// (x, y) are server-desktop pixels; they are mapped onto the client window by
// the ratio of the two sizes, so a server that scales its picture is probed at
// the same spot. Between samples it waits a random --gap-min-ms..--gap-max-ms
// (so that changes fall on every phase of the server's capture clock), or
// exactly --period-ms from one change to the next when that is given.
//
// Prints "samples=N lost=L p50=.. p95=.. max=.. mean=..", "values=a,b,..."
// (milliseconds) and "starts=..." (each seen sample's start, wall-clock
// milliseconds since 1970, to line it up with the client's log); a sample not
// seen within --timeout-ms is lost.
#include "bench_x11.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>
#include <X11/keysym.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string mode = "change";
    std::string serverDisplay, clientDisplay;
    int x = 100, y = 760;
    int samples = 50;
    int gapMinMs = 120, gapMaxMs = 320, periodMs = 0;
    int timeoutMs = 3000;
    int tol = 40;
    unsigned seed = 1;
    std::vector<uint32_t> palette;
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* v = argv[i + 1];
        if (key == "--mode")
            o.mode = v;
        else if (key == "--server-display")
            o.serverDisplay = v;
        else if (key == "--client-display")
            o.clientDisplay = v;
        else if (key == "--x")
            o.x = std::atoi(v);
        else if (key == "--y")
            o.y = std::atoi(v);
        else if (key == "--samples")
            o.samples = std::atoi(v);
        else if (key == "--gap-min-ms")
            o.gapMinMs = std::atoi(v);
        else if (key == "--gap-max-ms")
            o.gapMaxMs = std::atoi(v);
        else if (key == "--period-ms")
            o.periodMs = std::atoi(v);
        else if (key == "--timeout-ms")
            o.timeoutMs = std::atoi(v);
        else if (key == "--tol")
            o.tol = std::atoi(v);
        else if (key == "--seed")
            o.seed = unsigned(std::strtoul(v, nullptr, 10));
        else if (key == "--palette")
            o.palette = parsePalette(v);
        else {
            std::fprintf(stderr, "latency: unknown option %s\n", key.c_str());
            return false;
        }
    }
    if (o.mode != "change" && o.mode != "key")
        return false;
    if (o.palette.empty())
        o.palette = parsePalette(o.mode == "key" ? "ffa500,4b0082"
                                                 : "ff0000,00ff00,0000ff,ffff00,00ffff,ff00ff");
    return o.palette.size() >= 2 && o.samples > 0 && o.gapMaxMs >= o.gapMinMs && o.gapMinMs >= 0 &&
           o.timeoutMs > 0;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    // Nearest rank: the smallest value with at least p of the samples at or below it.
    const size_t rank = size_t(std::ceil(p * double(v.size())));
    return v[std::min(v.size(), std::max<size_t>(rank, 1)) - 1];
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "latency: bad arguments\n");
        return 2;
    }
    XSetErrorHandler(ignoreXErrors);
    Display* server = XOpenDisplay(o.serverDisplay.empty() ? nullptr : o.serverDisplay.c_str());
    Display* client = XOpenDisplay(o.clientDisplay.empty() ? nullptr : o.clientDisplay.c_str());
    if (!server || !client) {
        std::fprintf(stderr, "latency: cannot open the displays\n");
        return 2;
    }
    const Window serverRoot = DefaultRootWindow(server);
    const Window clientRoot = DefaultRootWindow(client);
    int cw = 0, ch = 0;
    Window window = 0;
    for (int i = 0; i < 100 && !window; ++i) {
        window = largestWindow(client, clientRoot, &cw, &ch);
        if (!window)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!window) {
        std::printf("samples=0 lost=0 (no client window)\n");
        return 1;
    }
    const int sw = DisplayWidth(server, DefaultScreen(server));
    const int sh = DisplayHeight(server, DefaultScreen(server));
    int px = 0, py = 0;
    Window child = 0;
    XTranslateCoordinates(client, window, clientRoot, int(long(o.x) * cw / sw),
                          int(long(o.y) * ch / sh), &px, &py, &child);

    int damageBase = 0, damageError = 0;
    if (!XDamageQueryExtension(client, &damageBase, &damageError)) {
        std::fprintf(stderr, "latency: no DAMAGE extension\n");
        return 2;
    }
    const Damage damage = XDamageCreate(client, clientRoot, XDamageReportNonEmpty);
    KeyCode keycode = XKeysymToKeycode(client, XK_space);
    if (o.mode == "key") {
        XSetInputFocus(client, window, RevertToPointerRoot, CurrentTime);
        XSync(client, False);
    }
    const int fd = ConnectionNumber(client);
    std::mt19937 random(o.seed);
    std::uniform_int_distribution<int> gap(o.gapMinMs, o.gapMaxMs);

    std::vector<double> values, starts;
    int lost = 0;
    size_t next = 0;
    auto nextStart = Clock::now();
    for (int sample = 0; sample < o.samples; ++sample) {
        int expected = -1;
        if (o.mode == "change") {
            const int shown = classify(readPixel(client, clientRoot, px, py), o.palette, o.tol);
            next = (next + 1) % o.palette.size();
            if (int(next) == shown)
                next = (next + 1) % o.palette.size();
            expected = int(next);
        } else {
            // The echo window shows one of its two colours; a key press brings the other.
            int shown = -1;
            const auto until = Clock::now() + std::chrono::milliseconds(o.timeoutMs);
            while ((shown = classify(readPixel(client, clientRoot, px, py), o.palette, o.tol)) <
                       0 &&
                   Clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (shown < 0) {
                std::printf("samples=0 lost=%d (the echo window does not show)\n", o.samples);
                return 1;
            }
            expected = 1 - shown;
        }
        if (o.periodMs > 0)
            std::this_thread::sleep_until(nextStart);
        XDamageSubtract(client, damage, None, None);
        XSync(client, False);
        const auto t0 = Clock::now();
        const double wall = std::chrono::duration<double, std::milli>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
        nextStart = t0 + std::chrono::milliseconds(o.periodMs);
        if (o.mode == "change") {
            XSetWindowBackground(server, serverRoot, o.palette[next]);
            XClearWindow(server, serverRoot);
            XSync(server, False);
        } else {
            XTestFakeKeyEvent(client, keycode, True, CurrentTime);
            XTestFakeKeyEvent(client, keycode, False, CurrentTime);
            XFlush(client);
        }
        const auto deadline = t0 + std::chrono::milliseconds(o.timeoutMs);
        bool seen = false;
        while (Clock::now() < deadline) {
            if (classify(readPixel(client, clientRoot, px, py), o.palette, o.tol) == expected) {
                values.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
                starts.push_back(wall);
                seen = true;
                break;
            }
            // Wake on the client's drawing, or after 2 ms at the latest.
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, 2);
            while (XPending(client) > 0) {
                XEvent event;
                XNextEvent(client, &event);
            }
            XDamageSubtract(client, damage, None, None);
        }
        if (!seen)
            ++lost;
        if (o.periodMs <= 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(gap(random)));
    }
    double mean = 0;
    for (double v : values)
        mean += v;
    mean = values.empty() ? 0 : mean / double(values.size());
    std::printf("samples=%zu lost=%d p50=%.1f p95=%.1f max=%.1f mean=%.1f\n", values.size(), lost,
                percentile(values, 0.50), percentile(values, 0.95),
                values.empty() ? 0.0 : *std::max_element(values.begin(), values.end()), mean);
    std::printf("values=");
    for (size_t i = 0; i < values.size(); ++i)
        std::printf("%s%.1f", i ? "," : "", values[i]);
    std::printf("\nstarts=");
    for (size_t i = 0; i < starts.size(); ++i)
        std::printf("%s%.1f", i ? "," : "", starts[i]);
    std::printf("\n");
    std::fflush(stdout);
    XDamageDestroy(client, damage);
    XCloseDisplay(client);
    XCloseDisplay(server);
    return 0;
}
