// Benchmark probe: counts the picture changes an RDP client shows. It runs on
// the client's X display, finds the client's window (the largest viewable
// top-level window; the bench runs the client without a window manager) and
// samples an area of it whenever XDamage says the client drew there, and at
// least every --poll-ms.
//
//   pixel_watch --mode colour --x 100 --y 700 --palette ff0000,... --seconds 10
//       counts changes from one palette colour to another (a sample that is
//       near no palette colour, within --tol per channel, is ignored)
//   pixel_watch --mode area --x 0 --y 0 --w 64 --h 600 --seconds 10
//       counts changes of the area's pixels
//   pixel_watch --mode wait --x 100 --y 700 --palette 336699 --seconds 15
//       exits 0 as soon as the colour shows, 1 when it did not in time
//
// Prints one line: "changes=N seconds=T samples=S rate=R".
#include "bench_x11.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string mode = "area";
    int x = 0, y = 0, w = 1, h = 1;
    double seconds = 10;
    int tol = 40;
    int pollMs = 10;
    int settleMs = 2;
    std::vector<uint32_t> palette;
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* v = argv[i + 1];
        if (key == "--mode")
            o.mode = v;
        else if (key == "--x")
            o.x = std::atoi(v);
        else if (key == "--y")
            o.y = std::atoi(v);
        else if (key == "--w")
            o.w = std::atoi(v);
        else if (key == "--h")
            o.h = std::atoi(v);
        else if (key == "--seconds")
            o.seconds = std::atof(v);
        else if (key == "--tol")
            o.tol = std::atoi(v);
        else if (key == "--poll-ms")
            o.pollMs = std::atoi(v);
        else if (key == "--settle-ms")
            o.settleMs = std::atoi(v);
        else if (key == "--palette")
            o.palette = parsePalette(v);
        else {
            std::fprintf(stderr, "pixel_watch: unknown option %s\n", key.c_str());
            return false;
        }
    }
    if (o.mode == "colour" || o.mode == "wait") {
        o.w = o.h = 1;
        if (o.palette.empty()) {
            std::fprintf(stderr, "pixel_watch: --palette is needed in mode %s\n", o.mode.c_str());
            return false;
        }
    } else if (o.mode != "area") {
        std::fprintf(stderr, "pixel_watch: unknown mode %s\n", o.mode.c_str());
        return false;
    }
    return o.w > 0 && o.h > 0 && o.seconds > 0;
}

// The sampled area in root coordinates, once the client window shows.
bool locate(Display* display, Window root, const Options& o, Clock::time_point deadline, int& rx,
            int& ry) {
    while (Clock::now() < deadline) {
        if (Window w = largestWindow(display, root)) {
            Window child = 0;
            if (XTranslateCoordinates(display, w, root, o.x, o.y, &rx, &ry, &child))
                return true;
        }
        poll(nullptr, 0, 50);
    }
    return false;
}

struct Sampler {
    Display* display;
    Window root;
    int rx, ry, w, h;

    // FNV-1a over the pixels' colour bytes; 0 when the read failed.
    uint64_t areaHash() const {
        XImage* image =
            XGetImage(display, root, rx, ry, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
        if (!image)
            return 0;
        uint64_t hash = 1469598103934665603ull;
        for (int row = 0; row < h; ++row) {
            const auto* line = reinterpret_cast<const uint32_t*>(
                image->data + size_t(row) * image->bytes_per_line);
            for (int col = 0; col < w; ++col) {
                hash ^= line[col] & 0xffffffu;
                hash *= 1099511628211ull;
            }
        }
        XDestroyImage(image);
        return hash | 1;
    }

    // The pixel at the area's corner as 0xRRGGBB; -1 when the read failed.
    long pixel() const { return readPixel(display, root, rx, ry); }
};

bool intersects(const XRectangle& r, int x, int y, int w, int h) {
    return r.x < x + w && x < r.x + r.width && r.y < y + h && y < r.y + r.height;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "pixel_watch: bad arguments\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "pixel_watch: cannot open the display\n");
        return 2;
    }
    XSetErrorHandler(ignoreXErrors);
    const Window root = DefaultRootWindow(display);
    int damageBase = 0, damageError = 0;
    if (!XDamageQueryExtension(display, &damageBase, &damageError)) {
        std::fprintf(stderr, "pixel_watch: no DAMAGE extension\n");
        return 2;
    }
    const auto begin = Clock::now();
    const auto deadline = begin + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(o.seconds));
    int rx = 0, ry = 0;
    if (!locate(display, root, o, deadline, rx, ry)) {
        std::printf("changes=0 seconds=%.3f samples=0 rate=0 (no client window)\n", o.seconds);
        return 1;
    }
    const Damage damage = XDamageCreate(display, root, XDamageReportRawRectangles);
    XSync(display, False);
    const Sampler sampler{display, root, rx, ry, o.w, o.h};
    const int fd = ConnectionNumber(display);

    long changes = 0, samples = 0;
    int lastClass = -1;
    uint64_t lastHash = 0;
    bool seen = false;
    for (;;) {
        // The sample: colour class or area hash; a change is counted when it
        // differs from the previous valid one.
        ++samples;
        if (o.mode == "area") {
            const uint64_t hash = sampler.areaHash();
            if (hash != 0) {
                if (lastHash != 0 && hash != lastHash)
                    ++changes;
                lastHash = hash;
            }
        } else {
            const int c = classify(sampler.pixel(), o.palette, o.tol);
            if (o.mode == "wait" && c >= 0) {
                seen = true;
                break;
            }
            if (c >= 0) {
                if (lastClass >= 0 && c != lastClass)
                    ++changes;
                lastClass = c;
            }
        }
        if (Clock::now() >= deadline)
            break;
        // Wait for the client to draw into the area (or the poll interval),
        // then for its drawing to settle so one frame is sampled once.
        bool relevant = false;
        auto waitUntil = Clock::now() + std::chrono::milliseconds(o.pollMs);
        const auto settleLimit = Clock::now() + std::chrono::milliseconds(o.pollMs + 15);
        for (;;) {
            while (XPending(display) > 0) {
                XEvent event;
                XNextEvent(display, &event);
                if (event.type == damageBase + XDamageNotify) {
                    const auto& e = reinterpret_cast<const XDamageNotifyEvent&>(event);
                    if (intersects(e.area, rx, ry, o.w, o.h) && !relevant) {
                        relevant = true;
                        waitUntil = Clock::now() + std::chrono::milliseconds(o.settleMs);
                    }
                }
            }
            const auto now = Clock::now();
            if (now >= waitUntil || now >= settleLimit || now >= deadline)
                break;
            const auto left = std::min({waitUntil, settleLimit, deadline}) - now;
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, int(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
        }
        XDamageSubtract(display, damage, None, None);
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
    std::printf("changes=%ld seconds=%.3f samples=%ld rate=%.3f\n", changes, elapsed, samples,
                elapsed > 0 ? double(changes) / elapsed : 0.0);
    std::fflush(stdout);
    XDamageDestroy(display, damage);
    XCloseDisplay(display);
    if (o.mode == "wait")
        return seen ? 0 : 1;
    return 0;
}
