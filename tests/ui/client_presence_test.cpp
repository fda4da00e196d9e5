// What the person at the desktop is shown while clients come and go: the
// status line, the notices, and the badge on the tray symbol.
#include <gtest/gtest.h>

#include "qt_print.h"

#include <QImage>

#include "app/core/control_client.h"
#include "app/ui/client_presence.h"
#include "app/ui/supervision.h"
#include "app/ui/tray_icon.h"

using namespace corvane::app;
using namespace corvane::app::ui;

namespace {

std::string connecting(int id, const char* account, const char* address) {
    return "{\"v\":1,\"type\":\"client-connecting\",\"id\":" + std::to_string(id) +
           ",\"address\":\"" + address + "\",\"account\":\"" + account +
           "\",\"login\":\"password\"}";
}
std::string ready(int id) {
    return "{\"v\":1,\"type\":\"client-ready\",\"id\":" + std::to_string(id) +
           ",\"mode\":\"control\"}";
}
std::string left(int id) {
    return "{\"v\":1,\"type\":\"client-left\",\"id\":" + std::to_string(id) + ",\"reason\":\"x\"}";
}

} // namespace

TEST(ClientPresence, StatusLineAndNoticesFollowTheSessions) {
    const std::string alice = "alice from 192.0.2.7";
    const std::string bob = "bob from 198.51.100.4";
    struct Step {
        std::string line;
        const char* status;
        std::vector<std::string> notices;
    };
    const Step steps[] = {
        {connecting(1, "alice", "192.0.2.7"), "alice from 192.0.2.7 connected", {}},
        {ready(1),
         "alice from 192.0.2.7 connected",
         {alice + " is connected to this computer's desktop."}},
        {connecting(2, "bob", "198.51.100.4"), "2 clients connected", {}},
        {ready(2), "2 clients connected", {bob + " is connected to this computer's desktop."}},
        {left(1), "bob from 198.51.100.4 connected", {alice + " left this computer's desktop."}},
        // Turned away before it had the desktop: counted while there, never announced.
        {connecting(3, "carol", "203.0.113.9"), "2 clients connected", {}},
        {left(3), "bob from 198.51.100.4 connected", {}},
        {left(2), "Running \u00b7 10.0.0.2:3389", {bob + " left this computer's desktop."}},
    };
    ControlSessions model;
    ClientWatch watch;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.line);
        ASSERT_TRUE(model.apply(step.line));
        ServerView view;
        view.running = true;
        view.addresses = {{"eth0", "10.0.0.2"}};
        view.clients = clientsLine(model.sessions());
        EXPECT_EQ(statusLineText(view), step.status);
        EXPECT_EQ(watch.update(model.sessions()), step.notices);
        EXPECT_TRUE(watch.update(model.sessions()).empty()) << "each change told once";
    }
    // A stopped server says so, whatever its last clients were.
    ServerView stopped;
    stopped.clients = "alice from 192.0.2.7 connected";
    EXPECT_EQ(statusLineText(stopped), "Stopped");
}

TEST(ClientPresence, BadgeOnlyWhileClientsAreConnected) {
    for (bool running : {false, true})
        for (bool clients : {false, true}) {
            SCOPED_TRACE(std::to_string(running) + std::to_string(clients));
            const QImage image = trayIcon(running, clients).pixmap(32, 32).toImage();
            ASSERT_FALSE(image.isNull());
            // The badge's middle, in the symbol's lower right corner.
            const QColor corner = image.pixelColor(24, 24);
            EXPECT_EQ(corner.rgb() == kSystemOrange.rgb(), clients) << corner.name().toStdString();
        }
}
