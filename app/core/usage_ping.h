// The usage report: minutes with a connected client and the server's
// counters, sent every five minutes while "Send Usage Pings" is on. Lives on
// the main thread; the counters are touched only there.
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/core/server_stats.h"
#include "app/core/user_defaults.h"

class QNetworkAccessManager;

namespace corvane::app {

class UsagePing : public std::enable_shared_from_this<UsagePing> {
  public:
    static constexpr int sendEveryMinutes = 5;
    using Body = std::map<std::string, std::string>;
    // Called on the main thread with whether the service acknowledged.
    using SendDone = std::function<void(bool acknowledged)>;

    static std::shared_ptr<UsagePing> create(std::string machine, std::string appVersion);
    ~UsagePing();

    // One minute passed; `clients` are connected now. True when a report is due.
    bool tick(int clients);
    Body body(bool active, const std::optional<ServerStats>& stats) const;
    void send(bool active, const std::string& serverBase, const std::optional<ServerStats>& stats,
              SendDone done = {});

    int connectedMinutes() const { return connectedMinutes_; }
    int minutesSinceSend() const { return minutesSinceSend_; }
    const std::optional<ServerStats>& reportedStats() const { return reportedStats_; }

  private:
    UsagePing(std::string machine, std::string appVersion);
    void acknowledge(int sentMinutes, const std::optional<ServerStats>& stats);

    std::string machine_;
    std::string appVersion_;
    int connectedMinutes_ = 0;
    int minutesSinceSend_ = 0;
    std::optional<ServerStats> reportedStats_;
    std::unique_ptr<QNetworkAccessManager> network_;
};

// The 60-second usage tick: nothing while usage pings are off; otherwise the
// connections are counted on a background thread and the tick (and a due
// report) runs on the main thread. `done` (tests) is called on the main
// thread once the tick has been handled.
void runUsageTick(const std::shared_ptr<UsagePing>& ping, const UserDefaults& defaults,
                  bool serverRunning, const std::string& statsPath, const std::string& serverBase,
                  std::function<void()> done = {});

} // namespace corvane::app
