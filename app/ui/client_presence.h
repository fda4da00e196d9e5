// What the person at the desktop is told about the server's clients: a line
// while any is connected, and a notice when one gets the desktop and when it
// leaves. Pure, over the control channel's model of the sessions.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/core/control_client.h"

namespace corvane::app::ui {

// "alice from 192.0.2.7 connected", "2 clients connected"; nothing without
// clients. Every logged-in client counts, held at a prompt or not.
std::optional<std::string> clientsLine(const std::vector<ControlSession>& sessions);

// The notification for a prompt: "{account} from {address} asks to connect
// to this computer's desktop."
std::string promptNotice(const ControlPrompt& prompt);

// Compares the sessions with the last look. A client is announced once it
// has the desktop (ready); its leaving is announced only then, so that one
// turned away before it saw anything is not reported as having been in.
class ClientWatch {
  public:
    std::vector<std::string> update(const std::vector<ControlSession>& sessions);

  private:
    struct Seen {
        uint64_t id;
        std::string account, address;
    };
    std::vector<Seen> ready_;
};

// Where the notices go: the desktop's notifications, or a test's record.
class Notifier {
  public:
    virtual ~Notifier() = default;
    virtual void notify(const std::string& text) = 0;
};

} // namespace corvane::app::ui
