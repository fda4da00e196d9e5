// A private Xvfb for one test: the first free display of :50-:59, ready when
// a client can connect, killed when the test ends.
#pragma once
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <X11/Xlib.h>

namespace corvane::testing {

class XvfbServer {
  public:
    ~XvfbServer() { kill(); }

    // Starts Xvfb with one screen of the given size; false when none came up.
    bool start(int width, int height) {
        for (int number = 50; number <= 59; ++number)
            if (startOn(number, width, height))
                return true;
        return false;
    }

    // Ends the server at once (as a crash would) and removes what it left.
    void kill() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        ::unlink(lockPath_.c_str());
        ::unlink(socketPath_.c_str());
    }

    // Kills the server and starts a new one on the same display, as when a
    // display server crashes and its session brings it back.
    bool restart() {
        kill();
        return number_ >= 0 && startOn(number_, width_, height_);
    }

    const std::string& name() const { return name_; }

  private:
    bool startOn(int number, int width, int height) {
        const std::string display = ":" + std::to_string(number);
        // Xvfb itself refuses a display whose lock belongs to a live server
        // and takes over a stale one.
        lockPath_ = "/tmp/.X" + std::to_string(number) + "-lock";
        socketPath_ = "/tmp/.X11-unix/X" + std::to_string(number);
        const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
        pid_t pid = ::fork();
        if (pid == 0) {
            ::setpgid(0, 0);
            // A test killed from outside takes its server with it.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            std::freopen("/dev/null", "w", stderr);
            ::execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", screen.c_str(), "-nolisten",
                     "tcp", "-noreset", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (pid < 0)
            return false;
        pid_ = pid;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1; // the display was taken after all
                return false;
            }
            if (lockOwner() == pid_) {
                if (Display* d = XOpenDisplay(display.c_str())) {
                    XCloseDisplay(d);
                    name_ = display;
                    number_ = number;
                    width_ = width;
                    height_ = height;
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        kill();
        return false;
    }

    pid_t lockOwner() const {
        FILE* f = std::fopen(lockPath_.c_str(), "r");
        if (!f)
            return -1;
        long pid = -1;
        if (std::fscanf(f, "%ld", &pid) != 1)
            pid = -1;
        std::fclose(f);
        return static_cast<pid_t>(pid);
    }

    pid_t pid_ = -1;
    int number_ = -1, width_ = 0, height_ = 0;
    std::string name_;
    std::string lockPath_;
    std::string socketPath_;
};

} // namespace corvane::testing
