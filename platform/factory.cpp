// Chooses the platform backend once per process (backend_choice.h decides).
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "backend_choice.h"
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
constexpr const char* kKnownBackends = ""
#ifdef CORVANE_HAVE_GNOME
                                       "gnome, "
#endif
#ifdef CORVANE_HAVE_X11
                                       "x11, "
#endif
                                       "sim";
#ifdef CORVANE_HAVE_GNOME
constexpr bool kGnomeBuilt = true;
#else
constexpr bool kGnomeBuilt = false;
#endif
// Never destroyed: threads of the server use the platform until the very end
// of the process, also while exit handlers run.
std::unique_ptr<Platform>& gCurrent = *new std::unique_ptr<Platform>();

std::string orEmpty(const char* value) {
    return value ? value : "";
}

BackendChoice chooseFromEnvironment() {
    BackendInputs in;
    in.wanted = orEmpty(std::getenv("CORVANE_PLATFORM"));
    in.sessionType = orEmpty(std::getenv("XDG_SESSION_TYPE"));
    in.waylandDisplay = orEmpty(std::getenv("WAYLAND_DISPLAY"));
    in.x11Display = orEmpty(std::getenv("DISPLAY"));
    in.gnomeBuilt = kGnomeBuilt;
    // The bus is asked only where the answer can matter.
    in.screenCastOnBus = in.wanted.empty() && waylandSession(in) && mutterScreenCastOnSessionBus();
    return chooseBackend(in);
}

[[noreturn]] void stopAtStart(const char* message) {
    std::fprintf(stderr, "platform: %s\n", message);
    std::exit(2);
}
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
        const BackendChoice choice = chooseFromEnvironment();
        if (choice.name.empty())
            stopAtStart((choice.why + " (known backends: " + kKnownBackends + ")").c_str());
        gCurrent = create(choice.name);
        // A misspelt name must not quietly serve the stand-in desktop.
        if (!gCurrent)
            stopAtStart(("unknown backend '" + choice.name +
                         "' in CORVANE_PLATFORM (known: " + kKnownBackends + ")")
                            .c_str());
        std::fprintf(stderr, "platform: using the %s backend (%s)\n", gCurrent->name().c_str(),
                     choice.why.c_str());
    }
    return *gCurrent;
}

std::string backendName() {
    {
        std::lock_guard lock(gMutex);
        if (gCurrent)
            return gCurrent->name();
    }
    return chooseFromEnvironment().name;
}

std::unique_ptr<Platform> replaceCurrent(std::unique_ptr<Platform> next) {
    std::lock_guard lock(gMutex);
    std::swap(gCurrent, next);
    return next;
}

} // namespace corvane::platform
