// The sim backend's privacy database. It is a small text file so that a test,
// the application and a server child process can share it. One entry a line:
//   <bundle id> <service> <granted|denied>
// A service with no line is undecided: a request or prompt then grants it (the
// simulated user agrees), a plain check answers no. Without a file both
// permissions are granted. The process asks as `bundleId` (the server's
// helper identity by default).
#pragma once
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "../privacy.h"

namespace corvane::platform::sim {

class SimPrivacy : public Privacy {
  public:
    enum class State { Undecided, Granted, Denied };

    bool screenAccess(bool request) override;
    bool accessibilityTrusted(bool prompt) override;
    bool reset(std::string_view service, std::string_view bundleId, std::string& message) override;
    bool resetSupported() const override { return true; }
    // Records the request; nothing is shown.
    bool openSettings(std::string_view service, std::string& message) override;

    void setDatabasePath(std::optional<std::string> path);
    void setBundleId(std::string bundleId);
    // Writes one entry (Undecided removes it).
    bool set(std::string_view bundleId, std::string_view service, State state);
    State get(std::string_view bundleId, std::string_view service);
    // Fault: resets are refused, as when the system keeps a decision.
    void setResetsFail(bool fail);
    // The services whose settings were opened, oldest first.
    std::vector<std::string> openedSettings();

  private:
    using Table = std::map<std::pair<std::string, std::string>, State>;
    bool ask(std::string_view service, bool request);
    bool load(Table& table);
    bool save(const Table& table);

    std::mutex mutex_;
    std::optional<std::string> path_;
    std::string bundleId_ = "com.corvane.shadow";
    std::vector<std::string> opened_;
    bool resetsFail_ = false;
};

} // namespace corvane::platform::sim
