// `corvane --server-only`: the server without menus or windows, for a desktop
// without a tray (the corvane-server user unit runs it). Every start reads
// the settings afresh and builds the tray's launch plan; an unexpected end
// restarts the server on the tray's schedule (supervision.h), a clean end
// (status 0) ends the run.
#pragma once
#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "app/core/settings.h"
#include "app/core/spawn.h"
#include "app/core/user_defaults.h"
#include "app/ui/clock.h"
#include "app/ui/server_keeper.h"

namespace corvane::app::ui {

class ServerOnly : public QObject {
  public:
    struct Services {
        std::shared_ptr<UserDefaults> defaults;
        LoginLoader loadLogin;
        // The server executable; empty when none was found.
        std::string serverPath;
        Clock* clock = nullptr;
        // The server's standard output and error (standard error in the
        // executable, so that the journal keeps it).
        int outputFd = 2;
        // One line of the supervisor's own.
        std::function<void(const std::string&)> log;
        // Called once, with the process's exit status, when the run is over.
        std::function<void(int)> finished;
    };

    explicit ServerOnly(Services services);
    ~ServerOnly() override;

    // Starts the server now unless it runs or the run is over.
    void start();
    // Ends the server in order and cancels a pending restart.
    void stop();

    const std::shared_ptr<SpawnedProcess>& task() const { return keeper_.process(); }
    bool restartPending() const { return keeper_.restartPending(); }
    int unexpectedEnds() const { return keeper_.unexpectedEnds(); }

  private:
    void serverEnded(const std::shared_ptr<SpawnedProcess>& process);
    void finish(int status);

    Services services_;
    ServerKeeper keeper_;
    bool finished_ = false;
};

} // namespace corvane::app::ui
