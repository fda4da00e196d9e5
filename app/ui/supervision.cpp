#include "app/ui/supervision.h"

#include <cmath>

namespace corvane::app::ui {

double serverRestartDelay(int inARow) {
    int m = inARow < 1 ? 1 : inARow;
    return m > 5 ? 60.0 : std::pow(2.0, m);
}

int unexpectedEndsAfter(int previous, double ranSeconds) {
    return ranSeconds < kLongRunSeconds ? previous + 1 : 1;
}

std::string restartLogLine(double delay, int inARow) {
    return "starting Corvane Server again in " + std::to_string(static_cast<long long>(delay)) +
           " s (" + std::to_string(inARow) + " unexpected end" + (inARow == 1 ? "" : "s") +
           " in a row)";
}

std::string statusLineText(const ServerView& view) {
    const std::string port = std::to_string(view.port);
    if (view.running) {
        if (view.clients)
            return *view.clients;
        if (view.addresses.empty())
            return "Running on port " + port + " (no network)";
        return "Running \u00b7 " + view.addresses.front().ip + ":" + port;
    }
    if (view.starting)
        return "Checking permissions\u2026";
    if (view.lastError)
        return *view.lastError;
    return "Stopped";
}

std::string toggleTitle(const ServerView& view) {
    return view.running ? "Stop Server" : "Start Server";
}

} // namespace corvane::app::ui
