// The application reads the server's output through a pipe and must see
// every line at once, so output buffering is set as soon as we are loaded.
#include <cstdio>

extern "C" __attribute__((constructor)) void mac_shadow_line_buffered_output(void) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
}
