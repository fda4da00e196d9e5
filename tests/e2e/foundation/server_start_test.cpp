// The server executable: the permission probe, a TLS connection from the
// real FreeRDP client, and a clean end on SIGTERM.
#include <csignal>

#include <gtest/gtest.h>

#include "e2e_harness.h"

using namespace e2e;

namespace {

const std::string kServer = CORVANE_SERVER_BIN;

struct ProbeResult {
    std::optional<int> status;
    std::string out;
};

ProbeResult runProbe(std::map<std::string, std::string> env, const TempDir& dir) {
    Process probe;
    probe.start({kServer, "/port:33895"}, env, dir.file("probe.out"), dir.file("probe.err"));
    ProbeResult r;
    r.status = probe.waitExit(15000ms);
    r.out = readFile(dir.file("probe.out"));
    return r;
}

} // namespace

TEST(PermissionProbe, ReportsBothGrantedOnXvfb) {
    Xvfb x(70, "1024x768x24");
    ASSERT_TRUE(x.ok());
    TempDir dir;
    auto env = isolatedServerEnv(dir, x.name());
    env["MAC_SHADOW_PERMS"] = "check";
    const ProbeResult r = runProbe(env, dir);
    ASSERT_EQ(r.status, std::optional<int>(0));
    EXPECT_EQ(r.out, "screen=1 input=1\n") << "exactly one line on standard output";
}

TEST(PermissionProbe, NoDisplayMeansNoScreenAccess) {
    TempDir dir;
    auto env = isolatedServerEnv(dir, ":199"); // no X server ever runs there
    env["MAC_SHADOW_PERMS"] = "check";
    const ProbeResult r = runProbe(env, dir);
    ASSERT_EQ(r.status, std::optional<int>(0));
    EXPECT_EQ(r.out, "screen=0 input=0\n");
}

TEST(PermissionProbe, SimPrivacyDatabaseDenyingAccessibility) {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("privacy.db"), "com.corvane.shadow ScreenCapture granted\n"
                                                  "com.corvane.shadow Accessibility denied\n"));
    auto env = isolatedServerEnv(dir, "");
    env["CORVANE_PLATFORM"] = "sim";
    env["CORVANE_SIM_PRIVACY_DB"] = dir.file("privacy.db");
    env["MAC_SHADOW_PERMS"] = "check";
    const ProbeResult r = runProbe(env, dir);
    ASSERT_EQ(r.status, std::optional<int>(0));
    EXPECT_EQ(r.out, "screen=1 input=0\n");
}

TEST(PermissionProbe, OnlyExactRequestAsksFirst) {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("privacy.db"), ""));
    auto env = isolatedServerEnv(dir, "");
    env["CORVANE_PLATFORM"] = "sim";
    env["CORVANE_SIM_PRIVACY_DB"] = dir.file("privacy.db");

    env["MAC_SHADOW_PERMS"] = "Request"; // another case only checks
    ProbeResult r = runProbe(env, dir);
    ASSERT_EQ(r.status, std::optional<int>(0));
    EXPECT_EQ(r.out, "screen=0 input=0\n");

    env["MAC_SHADOW_PERMS"] = "request"; // the simulated user agrees to both prompts
    r = runProbe(env, dir);
    ASSERT_EQ(r.status, std::optional<int>(0));
    EXPECT_EQ(r.out, "screen=1 input=1\n");
}

TEST(ServerRun, AcceptsTlsClientAndEndsCleanlyOnSigterm) {
    Xvfb serverDisplay(71, "1280x800x24");
    Xvfb clientDisplay(72, "1400x900x24");
    ASSERT_TRUE(serverDisplay.ok() && clientDisplay.ok());
    TempDir dir;
    const int port = 34701;
    Process server;
    ASSERT_TRUE(server.start({kServer, "/port:" + std::to_string(port), "-auth", "/sec:tls"},
                             isolatedServerEnv(dir, serverDisplay.name()), dir.file("server.log"),
                             dir.file("server.log")));
    ASSERT_TRUE(waitUntil([&] { return portOpen(port); }, 10000ms))
        << readFile(dir.file("server.log"));
    ASSERT_TRUE(waitUntil(
        [&] {
            return fileContains(dir.file("server.log"), "Screen Recording permission: granted");
        },
        5000ms));
    EXPECT_TRUE(fileContains(dir.file("server.log"),
                             "Accessibility permission: granted (keyboard injection allowed)"));

    Process client;
    ASSERT_TRUE(client.start({"xfreerdp3", "/v:127.0.0.1:" + std::to_string(port), "/cert:ignore",
                              "/sec:tls", "/u:x", "/p:x"},
                             {{"DISPLAY", clientDisplay.name()}, {"HOME", dir.path()}},
                             dir.file("client.log"), dir.file("client.log")));
    EXPECT_TRUE(
        waitUntil([&] { return fileContains(dir.file("server.log"), "is activated"); }, 15000ms))
        << readFile(dir.file("client.log"));
    EXPECT_TRUE(server.running()) << "the server must survive a client";
    client.stop();

    server.signal(SIGTERM);
    EXPECT_EQ(server.waitExit(10000ms), std::optional<int>(0));
    const std::string log = readFile(dir.file("server.log"));
    EXPECT_NE(log.find("SIGTERM: stopping"), std::string::npos);
    EXPECT_NE(log.find("SIGTERM: server exiting"), std::string::npos);
}
