// The rules of keeping the server alive and of the line that shows its state:
// pure functions, so that the delegate only carries them out.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "app/core/net_info.h"

namespace corvane::app::ui {

// Seconds before an automatic restart after `inARow` unexpected ends:
// 2, 4, 8, 16, 32, then 60.
double serverRestartDelay(int inARow);
// A run shorter than this counts towards the ends in a row; a longer one
// starts the count afresh.
inline constexpr double kLongRunSeconds = 300.0;
int unexpectedEndsAfter(int previous, double ranSeconds);
// "starting Corvane Server again in 4 s (2 unexpected ends in a row)"
std::string restartLogLine(double delay, int inARow);

// What the menu shows about the server.
struct ServerView {
    bool running = false;
    bool starting = false;
    std::optional<std::string> lastError;
    long long port = 3389;
    std::vector<Address> addresses;
    // While running: the line about connected clients, which then says more
    // than the address (see clientsLine).
    std::optional<std::string> clients;
};

std::string statusLineText(const ServerView& view);
std::string toggleTitle(const ServerView& view);

} // namespace corvane::app::ui
