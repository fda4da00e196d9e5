// Benchmark workloads of moving content, as people make it:
//
//   workload_motion --mode page  [--x 40 --y 40 --w 1200 --h 720] [--step 8]
//       a page of photographs and text in a window, scrolled by --step rows a
//       frame (redrawn whole each frame, as a browser's window is);
//   workload_motion --mode video [--x 760 --y 480 --w 480 --h 270]
//       moving natural-looking content in a region, as a playing video;
//   workload_motion --mode drag  [--w 400 --h 300] [--step 12]
//       a window with a photograph dragged left and right across the desktop
//       at --y (default 250).
//   Common: --fps 30 --seconds 30.
//
// Frames are paced on absolute deadlines. On exit (time up, SIGTERM or
// SIGINT) it prints one line: "changes=N seconds=T rate=R".
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cmath>
#include <csignal>
#include <cstdint>
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

struct Options {
    std::string mode = "page";
    int x = -1, y = -1, w = 0, h = 0, step = 0;
    double fps = 30, seconds = 30;
};

// A repeatable pseudo-random value in 0..255 for a lattice point.
uint32_t lattice(int x, int y, uint32_t seed) {
    uint32_t v = uint32_t(x) * 0x8da6b343u ^ uint32_t(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
    v ^= v >> 13;
    v *= 0x5bd1e995u;
    return (v ^ (v >> 15)) & 0xff;
}

// Smooth noise: the lattice blended across a cell of `cell` pixels.
double valueNoise(int x, int y, int cell, uint32_t seed) {
    const int cx = x / cell, cy = y / cell;
    const double fx = double(x % cell) / cell, fy = double(y % cell) / cell;
    const double a = lattice(cx, cy, seed), b = lattice(cx + 1, cy, seed);
    const double c = lattice(cx, cy + 1, seed), d = lattice(cx + 1, cy + 1, seed);
    const double top = a + (b - a) * fx, bottom = c + (d - c) * fx;
    return top + (bottom - top) * fy;
}

uint8_t clampByte(double v) {
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// A photograph-like picture: broad shapes, finer detail and grain.
XImage* photo(Display* d, int w, int h, uint32_t seed) {
    auto* data = static_cast<uint32_t*>(std::malloc(size_t(w) * size_t(h) * 4));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double broad = valueNoise(x, y, 97, seed), mid = valueNoise(x, y, 23, seed + 1);
            const double grain = lattice(x, y, seed + 2) / 16.0;
            const double v = 0.6 * broad + 0.3 * mid + grain;
            const uint8_t r = clampByte(v + 40.0 * std::sin(y / 80.0 + seed));
            const uint8_t g = clampByte(v * 0.9 + 20.0 * std::cos(x / 120.0));
            const uint8_t b = clampByte(255 - v * 0.8 + grain);
            data[size_t(y) * size_t(w) + size_t(x)] = uint32_t(r) << 16 | uint32_t(g) << 8 | b;
        }
    return XCreateImage(d, DefaultVisual(d, DefaultScreen(d)), 24, ZPixmap, 0,
                        reinterpret_cast<char*>(data), unsigned(w), unsigned(h), 32, 0);
}

// The page: paragraphs of text between rows of two photographs, tall enough
// that a scroll never shows the wrap at once.
Pixmap page(Display* d, Window win, int w, int h, GC gc) {
    const Pixmap p = XCreatePixmap(d, win, unsigned(w), unsigned(h), 24);
    XSetForeground(d, gc, 0xffffff);
    XFillRectangle(d, p, gc, 0, 0, unsigned(w), unsigned(h));
    const int photoW = (w - 60) / 2, photoH = 300;
    int y = 20, block = 0;
    while (y < h) {
        XSetForeground(d, gc, 0x202020);
        for (int line = 0; line < 12 && y < h; ++line, y += 16) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "Paragraph %d, line %d: the quick brown fox jumps over the lazy dog "
                          "while the page scrolls on, 0123456789.",
                          block, line);
            XDrawString(d, p, gc, 20, y, text, int(std::strlen(text)));
        }
        for (int i = 0; i < 2; ++i) {
            XImage* img = photo(d, photoW, photoH, uint32_t(block * 2 + i));
            XPutImage(d, p, gc, img, 0, 0, 20 + i * (photoW + 20), y + 10, unsigned(photoW),
                      unsigned(photoH));
            XDestroyImage(img);
        }
        y += photoH + 40;
        ++block;
    }
    return p;
}

Window window(Display* d, int x, int y, int w, int h) {
    XSetWindowAttributes a{};
    a.override_redirect = True;
    a.background_pixel = 0xffffff;
    const Window win = XCreateWindow(d, DefaultRootWindow(d), x, y, unsigned(w), unsigned(h), 0,
                                     24, InputOutput, CopyFromParent,
                                     CWOverrideRedirect | CWBackPixel, &a);
    XMapRaised(d, win);
    XSync(d, False);
    return win;
}

// One frame of the moving picture at time step `t`.
void videoFrame(XImage* img, int t) {
    auto* px = reinterpret_cast<uint32_t*>(img->data);
    const int w = img->width, h = img->height;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double v = 0.5 * valueNoise(x + t * 3, y + t, 61, 7) +
                             0.35 * valueNoise(x - t * 2, y + t * 2, 19, 8) +
                             lattice(x, y + t, 9) / 20.0;
            px[size_t(y) * size_t(w) + size_t(x)] =
                uint32_t(clampByte(v * 1.1)) << 16 | uint32_t(clampByte(v * 0.8 + 30)) << 8 |
                clampByte(200 - v * 0.6);
        }
}

using Frame = void (*)(Display*, int frame, void* state);

struct PageState {
    Window win;
    GC gc;
    Pixmap pixmap;
    int w, h, pageH, step;
};
void pageFrame(Display* d, int n, void* s) {
    auto* p = static_cast<PageState*>(s);
    const int top = (n * p->step) % (p->pageH - p->h);
    XCopyArea(d, p->pixmap, p->win, p->gc, 0, top, unsigned(p->w), unsigned(p->h), 0, 0);
}

struct VideoState {
    Window win;
    GC gc;
    XImage* img;
};
void videoStep(Display* d, int n, void* s) {
    auto* v = static_cast<VideoState*>(s);
    videoFrame(v->img, n);
    XPutImage(d, v->win, v->gc, v->img, 0, 0, 0, 0, unsigned(v->img->width),
              unsigned(v->img->height));
}

struct DragState {
    Window win;
    int y, span, step;
};
void dragStep(Display* d, int n, void* s) {
    auto* g = static_cast<DragState*>(s);
    const int travel = n * g->step % (2 * g->span); // there and back
    XMoveWindow(d, g->win, travel < g->span ? travel : 2 * g->span - travel, g->y);
}

void run(Display* d, Frame frame, void* state, const Options& o) {
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    const long periodNs = long(1e9 / o.fps);
    timespec begin{}, next{}, now{};
    clock_gettime(CLOCK_MONOTONIC, &begin);
    next = begin;
    int changes = 0;
    auto since = [&begin](const timespec& t) {
        return double(t.tv_sec - begin.tv_sec) + double(t.tv_nsec - begin.tv_nsec) / 1e9;
    };
    while (!gStop) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (since(now) >= o.seconds)
            break;
        frame(d, changes++, state);
        XSync(d, False);
        next.tv_nsec += periodNs;
        while (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        while (!gStop && clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) != 0) {
        }
    }
    clock_gettime(CLOCK_MONOTONIC, &now);
    const double elapsed = since(now);
    std::printf("changes=%d seconds=%.3f rate=%.3f\n", changes, elapsed,
                elapsed > 0 ? changes / elapsed : 0.0);
    std::fflush(stdout);
}

bool parse(int argc, char** argv, Options* o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const char* k = argv[i];
        const char* v = argv[i + 1];
        if (!std::strcmp(k, "--mode"))
            o->mode = v;
        else if (!std::strcmp(k, "--fps"))
            o->fps = std::atof(v);
        else if (!std::strcmp(k, "--seconds"))
            o->seconds = std::atof(v);
        else if (!std::strcmp(k, "--step"))
            o->step = std::atoi(v);
        else if (!std::strcmp(k, "--x"))
            o->x = std::atoi(v);
        else if (!std::strcmp(k, "--y"))
            o->y = std::atoi(v);
        else if (!std::strcmp(k, "--w"))
            o->w = std::atoi(v);
        else if (!std::strcmp(k, "--h"))
            o->h = std::atoi(v);
        else
            return false;
    }
    return (o->mode == "page" || o->mode == "video" || o->mode == "drag") && o->fps > 0 &&
           o->fps <= 240;
}

// Fills in each mode's own defaults.
void defaults(Options* o) {
    struct Mode {
        const char* name;
        int x, y, w, h, step;
    } const modes[] = {{"page", 40, 40, 1200, 720, 8},
                       {"video", 760, 480, 480, 270, 0},
                       {"drag", 0, 250, 400, 300, 12}};
    for (const Mode& m : modes)
        if (o->mode == m.name) {
            o->x = o->x < 0 ? m.x : o->x;
            o->y = o->y < 0 ? m.y : o->y;
            o->w = o->w > 0 ? o->w : m.w;
            o->h = o->h > 0 ? o->h : m.h;
            o->step = o->step > 0 ? o->step : m.step;
        }
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, &o)) {
        std::fprintf(stderr, "workload_motion: --mode page|video|drag [--x --y --w --h --step "
                             "--fps --seconds]\n");
        return 2;
    }
    defaults(&o);
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "workload_motion: cannot open the display\n");
        return 1;
    }
    const Window win = window(d, o.x, o.y, o.w, o.h);
    const GC gc = XCreateGC(d, win, 0, nullptr);
    if (o.mode == "page") {
        PageState s{win, gc, 0, o.w, o.h, 4 * o.h, o.step};
        s.pixmap = page(d, win, o.w, s.pageH, gc);
        run(d, pageFrame, &s, o);
    } else if (o.mode == "video") {
        VideoState s{win, gc, photo(d, o.w, o.h, 0)};
        run(d, videoStep, &s, o);
        XDestroyImage(s.img);
    } else {
        // The photograph is the window's background: the server redraws it
        // wherever the move uncovers part of the window.
        XImage* img = photo(d, o.w, o.h, 3);
        const Pixmap picture = XCreatePixmap(d, win, unsigned(o.w), unsigned(o.h), 24);
        XPutImage(d, picture, gc, img, 0, 0, 0, 0, unsigned(o.w), unsigned(o.h));
        XDestroyImage(img);
        XSetWindowBackgroundPixmap(d, win, picture);
        XClearWindow(d, win);
        const int width = DisplayWidth(d, DefaultScreen(d));
        DragState s{win, o.y, width - o.w, o.step};
        run(d, dragStep, &s, o);
    }
    XCloseDisplay(d);
    return 0;
}
