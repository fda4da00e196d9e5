// Benchmark helper for the typing latency: a window on the server's desktop
// that answers every key press by switching its colour, so the answer of a
// key typed at the client can be seen back on the client's display.
//
//   key_echo --x 1000 --y 560 --w 200 --h 160 --colours ffa500,4b0082 --seconds 60
//
// It keeps the keyboard focus (there is no window manager on the bench's
// desktop) and ends after --seconds, on SIGTERM or SIGINT.
#include "bench_x11.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <poll.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

volatile std::sig_atomic_t gStop = 0;

void onSignal(int) {
    gStop = 1;
}

} // namespace

int main(int argc, char** argv) {
    int x = 1000, y = 560, w = 200, h = 160;
    double seconds = 60;
    std::vector<uint32_t> colours = parsePalette("ffa500,4b0082");
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* v = argv[i + 1];
        if (key == "--x")
            x = std::atoi(v);
        else if (key == "--y")
            y = std::atoi(v);
        else if (key == "--w")
            w = std::atoi(v);
        else if (key == "--h")
            h = std::atoi(v);
        else if (key == "--seconds")
            seconds = std::atof(v);
        else if (key == "--colours")
            colours = parsePalette(v);
        else {
            std::fprintf(stderr, "key_echo: unknown option %s\n", key.c_str());
            return 2;
        }
    }
    if (colours.size() != 2 || w < 1 || h < 1) {
        std::fprintf(stderr, "key_echo: need two colours and a size\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "key_echo: cannot open the display\n");
        return 1;
    }
    XSetErrorHandler(ignoreXErrors);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    const Window root = DefaultRootWindow(display);
    XSetWindowAttributes attributes{};
    attributes.background_pixel = colours[0];
    attributes.override_redirect = True;
    attributes.event_mask = KeyPressMask | FocusChangeMask | StructureNotifyMask | ExposureMask;
    const Window window =
        XCreateWindow(display, root, x, y, unsigned(w), unsigned(h), 0, CopyFromParent, InputOutput,
                      CopyFromParent, CWBackPixel | CWOverrideRedirect | CWEventMask, &attributes);
    XMapRaised(display, window);
    XSync(display, False);

    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(seconds));
    size_t current = 0;
    long presses = 0;
    bool mapped = false;
    const int fd = ConnectionNumber(display);
    while (!gStop && std::chrono::steady_clock::now() < deadline) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify) {
                mapped = true;
                XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
            } else if (event.type == FocusOut && mapped) {
                // Nothing else on this desktop should type; take the focus back.
                XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
            } else if (event.type == KeyPress) {
                current = 1 - current;
                ++presses;
                XSetWindowBackground(display, window, colours[current]);
                XClearWindow(display, window);
            }
        }
        XFlush(display);
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 100);
    }
    std::printf("presses=%ld\n", presses);
    std::fflush(stdout);
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    return 0;
}
