// A session with sound: each side its own PulseAudio daemon (a null sink
// whose monitor carries what plays there), a server that plays planar only
// (the client's pixels then equal the server's), and clients that play the
// sound through the client side's daemon.
#pragma once
#include <string>
#include <vector>

#include "e2e_session.h"
#include "pulse_daemon.h"
#include "tone.h"

namespace e2e {

class SoundSession : public Session {
  public:
    // Both X servers "WxH" at 24 bits; the clients ask for that size.
    SoundSession(const Suite& suite, const std::string& size)
        : Session(suite, size + "x24", size + "x24"), size_(size) {}
    bool ready() const { return ok() && serverPulse_.ok() && clientPulse_.ok(); }
    // MAC_SHADOW_AUDIO is `audio`.
    bool startServer(const std::string& audio = "1") {
        return Session::startServer(
            planar({"-auth", "/sec:tls"}),
            {{"PULSE_SERVER", serverPulse_.server()}, {"MAC_SHADOW_AUDIO", audio}});
    }
    bool startClient() { return Session::startClient(listener(), listenerEnv()); }
    // Another client with sound, logging to `name`.log.
    bool startListener(Process& client, const std::string& name) {
        return client.start(clientCommand(listener()), merged(clientEnv(), listenerEnv()),
                            dir().file(name + ".log"), dir().file(name + ".log"));
    }
    // Records the client side's sink while the tone plays on the server side.
    std::vector<int16_t> recordTone() {
        return e2e::recordTone(serverPulse_.env(), clientPulse_.env(), dir());
    }
    std::string clientSinkInputs() {
        std::string out;
        clientPulse_.pactl({"list", "sink-inputs"}, &out);
        return out;
    }
    PulseDaemon& serverPulse() { return serverPulse_; }

  private:
    std::vector<std::string> listener() const {
        return {"/sec:tls", "/u:x", "/p:x", "/size:" + size_, "/sound:sys:pulse"};
    }
    Env listenerEnv() const { return {{"PULSE_SERVER", clientPulse_.server()}}; }

    std::string size_;
    PulseDaemon serverPulse_, clientPulse_;
};

} // namespace e2e
