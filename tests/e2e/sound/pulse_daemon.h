// A private PulseAudio daemon for a test.
#pragma once
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "e2e_harness.h"

namespace e2e {

// A private sound server: anonymous clients on a unix socket, one null sink
// whose monitor carries what is played to it.
class PulseDaemon {
  public:
    PulseDaemon() { ok_ = start(); }
    bool ok() const { return ok_; }
    std::string server() const { return "unix:" + dir_.file("native"); }
    std::map<std::string, std::string> env() const {
        return {{"PULSE_SERVER", server()}, {"HOME", dir_.path()}};
    }
    std::optional<int> pactl(const std::vector<std::string>& args, std::string* out = nullptr) {
        std::vector<std::string> argv = {"pactl"};
        argv.insert(argv.end(), args.begin(), args.end());
        return run(argv, env(), 5000ms, out);
    }
    // Ends the daemon and starts a fresh one on the same socket, as a user
    // restarting their sound server does; true once it answers.
    bool restart() {
        process_.stop();
        ok_ = start();
        return ok_;
    }

  private:
    bool start() {
        const std::string socket = dir_.file("native");
        process_.start({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                        "--use-pid-file=no", "--disable-shm",
                        "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket,
                        "--load=module-null-sink sink_name=nullsink"},
                       {{"HOME", dir_.path()}, {"XDG_RUNTIME_DIR", dir_.path()}},
                       dir_.file("pulse.log"), dir_.file("pulse.log"));
        return waitUntil([&] { return pactl({"info"}) == std::optional<int>(0); }, 10000ms, 100ms);
    }

    TempDir dir_;
    Process process_;
    bool ok_ = false;
};

} // namespace e2e
