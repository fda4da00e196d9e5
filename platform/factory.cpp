// Chooses the platform backend once per process.
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform.h"
#include "sim/sim_platform.h"
#ifdef CORVANE_HAVE_X11
#include "x11/x11_platform.h"
#endif
#ifdef CORVANE_HAVE_GNOME
#include "gnome/gnome_platform.h"
#endif

namespace corvane::platform {

namespace {
std::mutex gMutex;
#if defined(CORVANE_HAVE_X11) && defined(CORVANE_HAVE_GNOME)
constexpr const char* kKnownBackends = "gnome, x11, sim";
#elif defined(CORVANE_HAVE_X11)
constexpr const char* kKnownBackends = "x11, sim";
#else
constexpr const char* kKnownBackends = "sim";
#endif
// Never destroyed: threads of the server use the platform until the very end
// of the process, also while exit handlers run.
std::unique_ptr<Platform>& gCurrent = *new std::unique_ptr<Platform>();
} // namespace

std::unique_ptr<Platform> create(const std::string& name) {
    if (name == "sim")
        return sim::SimPlatform::fromEnvironment();
#ifdef CORVANE_HAVE_X11
    if (name == "x11")
        return std::make_unique<x11::X11Platform>();
#endif
#ifdef CORVANE_HAVE_GNOME
    if (name == "gnome")
        return std::make_unique<gnome::GnomePlatform>();
#endif
    return nullptr;
}

Platform& current() {
    std::lock_guard lock(gMutex);
    if (!gCurrent) {
        const char* wanted = std::getenv("CORVANE_PLATFORM");
        std::string name = (wanted && *wanted) ? wanted : "x11";
        gCurrent = create(name);
        // A misspelt name must not quietly serve the stand-in desktop.
        if (!gCurrent) {
            std::fprintf(stderr, "platform: unknown backend '%s' in CORVANE_PLATFORM (known: %s)\n",
                         name.c_str(), kKnownBackends);
            std::exit(2);
        }
        std::fprintf(stderr, "platform: using the %s backend\n", gCurrent->name().c_str());
    }
    return *gCurrent;
}

std::unique_ptr<Platform> replaceCurrent(std::unique_ptr<Platform> next) {
    std::lock_guard lock(gMutex);
    std::swap(gCurrent, next);
    return next;
}

} // namespace corvane::platform
