#include "terminate.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "base/clock.h"
#include "base/env.h"
#include "base/log.h"
#include "capture/mac_capture.h"
#include "desktop_session.h"
#include "input/input_held.h"
#include "layout/virtual_displays.h"
#include "loop/power.h"
#include "platform/platform.h"
#include "section_lock.h"

namespace {

std::atomic<bool> gTerminating{false};
std::mutex gHandlerMutex; // the handler runs serially, whoever calls it
int gWakePipe[2] = {-1, -1};
MacProcessExit gExit = _exit;

// A reason travels through the pipe as one byte: an index into this table.
const char* const kReasons[] = {"SIGTERM", "SIGINT", "SIGHUP", "the Corvane app is gone"};
constexpr int kParentGone = 3;

void onSignal(int signal) {
    const char index = signal == SIGTERM ? 0 : signal == SIGINT ? 1 : 2;
    const int saved = errno;
    (void)!write(gWakePipe[1], &index, 1);
    errno = saved;
}

int reasonIndex(const char* reason) {
    for (int i = 0; i < 4; ++i)
        if (reason == kReasons[i])
            return i;
    return kParentGone;
}

// Without pidfd_open (old kernels, seccomp filters) the parent is watched by
// asking for the parent process id now and then: it changes once the parent
// has ended and this process has been handed to another.
constexpr int kParentPollMs = 1000;

struct ParentWatch {
    int fd = -1;      // a pidfd that becomes readable when the parent ends
    pid_t polled = 0; // else the parent id to compare getppid() with
};

ParentWatch openParentWatch(pid_t parent) {
    ParentWatch watch;
    watch.fd = static_cast<int>(syscall(SYS_pidfd_open, parent, 0));
    if (watch.fd >= 0) {
        MAC_INFO("parent watch: process %d, through a pidfd", static_cast<int>(parent));
        return watch;
    }
    const int error = errno;
    watch.polled = parent;
    MAC_WARN("parent watch: process %d, by checking the parent process id every %d ms "
             "(pidfd_open is unavailable: %s)",
             static_cast<int>(parent), kParentPollMs, std::strerror(error));
    return watch;
}

void terminationThread(ParentWatch parent) {
    pollfd fds[2] = {{gWakePipe[0], POLLIN, 0}, {parent.fd, POLLIN, 0}};
    for (;;) {
        const int n = poll(fds, parent.fd >= 0 ? 2 : 1, parent.polled ? kParentPollMs : -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return;
        if (parent.polled && getppid() != parent.polled) {
            parent.polled = 0;
            mac_shadow_on_terminate(kReasons[kParentGone]);
        }
        if (fds[0].revents & POLLIN) {
            char index = 0;
            if (read(gWakePipe[0], &index, 1) == 1 && index >= 0 && index < 4)
                mac_shadow_on_terminate(kReasons[static_cast<int>(index)]);
        }
        if (parent.fd >= 0 && (fds[1].revents & (POLLIN | POLLHUP))) {
            mac_shadow_on_terminate(kReasons[kParentGone]);
            fds[1].fd = -1;
        }
    }
}

bool installOnce() {
    if (pipe2(gWakePipe, O_CLOEXEC) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);

    ParentWatch watch;
    const pid_t parent = getppid();
    if (mac_env::parentWatch() && parent >= 2) {
        watch = openParentWatch(parent);
        // The parent may have ended before the watch was in place.
        if (getppid() != parent)
            mac_shadow_queue_terminate(kReasons[kParentGone]);
    }
    std::thread(terminationThread, watch).detach();
    return true;
}

} // namespace

bool mac_shadow_install_termination(void) {
    static std::once_flag once;
    static bool installed = false;
    std::call_once(once, [] { installed = installOnce(); });
    return installed;
}

void mac_shadow_queue_terminate(const char* reason) {
    const char index = static_cast<char>(reasonIndex(reason));
    if (gWakePipe[1] >= 0)
        (void)!write(gWakePipe[1], &index, 1);
}

extern "C" void mac_shadow_on_terminate(const char* reason) {
    std::lock_guard lock(gHandlerMutex);
    if (gTerminating.exchange(true))
        return;
    MAC_INFO("%s: stopping", reason);
    if (macShadowSubsystem* record = mac_shadow_record())
        mac_shadow_teardown(record, reason);
    MAC_INFO("%s: server exiting", reason);
    std::fflush(stdout);
    std::fflush(stderr);
    gExit(0);
}

namespace {

// Wakes the screen before removing virtual displays: the display
// configuration cannot be changed reliably while it sleeps.
void wakeBeforeGivingBack() {
    auto& power = corvane::platform::current().power();
    if (!power.displayAsleep())
        return;
    mac_shadow_wake_display();
    if (power.displayAsleep())
        mac_shadow_wake_display();
    if (power.displayAsleep())
        MAC_LOG_FN(WLOG_WARN, "mac_shadow_teardown",
                   "%s screen is still asleep: removing the virtual displays anyway "
                   "(they end with the server either way)",
                   corvane::platform::current().terms().computers);
}

} // namespace

extern "C" void mac_shadow_teardown(macShadowSubsystem* record, const char* reason) {
    if (!record)
        return;
    record->tearingDown.exchange(1);
    {
        SectionLock lock(record->displayLock);
        mac_capture_stop();
        if (record->virtualCount > 0 || record->virtualActive || record->mirroredCount > 0) {
            MAC_INFO("%s: giving %s its own screen back", reason,
                     corvane::platform::current().terms().computer);
            wakeBeforeGivingBack();
            mac_shadow_destroy_virtual(record);
            mac_sleep_ms(500);
        }
        mac_shadow_keep_awake(record, false, false);
    }
    // XTest presses outlive our connection: nothing may stay pressed.
    mac_shadow_input_release_all(record);
    // Last: the virtual displays and the input above belong to it.
    mac_shadow_session_close(record, reason);
}

void mac_shadow_set_process_exit(MacProcessExit exitFn) {
    gExit = exitFn ? exitFn : _exit;
}
void mac_shadow_reset_terminating_for_tests(void) {
    gTerminating.store(false);
}
