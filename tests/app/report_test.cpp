// The Test Connection report, its parsers and the diagnostics text.
#include <gtest/gtest.h>

#include "app/core/diagnostics.h"
#include "app/core/net_info.h"

using namespace corvane::app;

TEST(NetInfoUsable, DropsLoopbackLinkLocalAndMalformedAndPutsEnFirst) {
    std::vector<Address> candidates{{"lo0", "127.0.0.1"},  {"en5", "169.254.3.4"},
                                    {"utun3", "10.0.0.2"}, {"en0", "192.168.1.5"},
                                    {"en1", "10.0..1"},    {"bridge0", "172.16.0.1"},
                                    {"en0", "192.168.1.6"}};
    EXPECT_EQ(NetInfo::usable(candidates), (std::vector<Address>{{"en0", "192.168.1.5"},
                                                                 {"en0", "192.168.1.6"},
                                                                 {"bridge0", "172.16.0.1"},
                                                                 {"utun3", "10.0.0.2"}}));
}

TEST(NetInfoAddresses, PrivateLinkLocalAndPublicAnswers) {
    for (const char* address : {"172.31.255.255", "192.168.0.1", "10.1.2.3"})
        EXPECT_TRUE(NetInfo::isPrivate(address)) << address;
    for (const char* address :
         {"172.15.0.1", "172.32.0.1", "192.169.0.1", "10.0.0", "10.0.0.256", "8.8.8.8"})
        EXPECT_FALSE(NetInfo::isPrivate(address)) << address;
    EXPECT_TRUE(NetInfo::isLinkLocal("169.254.1.1"));
    EXPECT_FALSE(NetInfo::isLinkLocal("169.25.1.1"));
    EXPECT_EQ(NetInfo::parsePublicIP("  203.0.113.7\n"), "203.0.113.7");
    for (const char* answer : {"203.0.113", "203.0.113.256", "1..2.3", "<html>", "1.2.3.-4"})
        EXPECT_EQ(NetInfo::parsePublicIP(answer), std::nullopt) << answer;
}

TEST(NetInfoCounting, KernelTableCountsEstablishedInboundOnly) {
    // Port 3389 is 0D3D; state 01 is ESTABLISHED, 0A is LISTEN.
    std::string table =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid\n"
        "   0: 00000000:0D3D 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000\n"
        "   1: 0501A8C0:0D3D 0901A8C0:C350 01 00000000:00000000 00:00000000 00000000  1000\n"
        "   2: 0501A8C0:C351 0100000A:0D3D 01 00000000:00000000 00:00000000 00000000  1000\n"
        "   3: 0501A8C0:0D3D 0A01A8C0:C352 06 00000000:00000000 00:00000000 00000000  1000\n";
    EXPECT_EQ(NetInfo::countEstablishedInTable(table, 3389), 1);
    EXPECT_EQ(NetInfo::countEstablishedInTable(table, 0xC351), 1);
    EXPECT_EQ(NetInfo::countEstablishedInTable("garbage\n", 3389), 0);
}

namespace {
const std::string kNote =
    "After this computer restarts, log in to its desktop once before connecting: Corvane runs "
    "inside your desktop session. Once you are logged in, a locked screen is fine: you can unlock "
    "it from the Windows App.";
const std::string kLoginHint = "\nTurn on \"Open Corvane at Login\" in the menu (it adds Corvane "
                               "to your desktop's autostart), or it will not start after a "
                               "restart at all.";
std::string firewall(const std::string& port) {
    return "If Windows App cannot connect: check that this computer's firewall lets port " + port +
           " in, and that both computers are on the same network.";
}
} // namespace

TEST(NetInfoReport, StoppedListeningAndSilentServers) {
    EXPECT_EQ(NetInfo::afterRestartNote(true), kNote);
    EXPECT_EQ(NetInfo::afterRestartNote(false), kNote + kLoginHint);
    EXPECT_EQ(NetInfo::report(3389, false, {{"en0", "192.168.1.20"}}, true, "203.0.113.7", false),
              "The server is not running. Choose Start Server in the menu, then test again.\n\n" +
                  kNote + kLoginHint);
    EXPECT_EQ(NetInfo::report(3389, true, {}, true, std::nullopt, true),
              "The server is listening on port 3389 on this computer.\n"
              "This computer has no network address. Connect to Wi-Fi or Ethernet.\n" +
                  firewall("3389") + "\n\n" + kNote);
    std::string report =
        NetInfo::report(3390, true, {{"en0", "192.168.1.20"}, {"utun1", "100.64.0.2"}}, false,
                        "203.0.113.7", false);
    EXPECT_EQ(report,
              "The server says it is running but nothing answers on port 3390. Check the log.\n"
              "In Windows App, add a PC and type one of these:\n"
              "    192.168.1.20:3390   (en0)\n"
              "    100.64.0.2:3390   (utun1)\n"
              "These work from computers on the same network. To connect from elsewhere you need "
              "a VPN or a port forward on your router.\n"
              "Your public address is 203.0.113.7. Forward port 3390 to this computer on your "
              "router to use it, which exposes this computer to the internet, so a VPN is "
              "safer.\n" +
                  firewall("3390") + "\n\n" + kNote + kLoginHint);
    std::string publicOnly =
        NetInfo::report(3389, true, {{"eth0", "100.64.0.2"}}, true, std::nullopt, true);
    EXPECT_EQ(publicOnly.find("These work from computers"), std::string::npos);
}

// The log tail keeps the last lines (and empty ones) with secrets removed.
TEST(DiagnosticsText, TailAndRedaction) {
    EXPECT_EQ(Diagnostics::tail("a\nb\nc\n", 2), "c\n");
    EXPECT_EQ(Diagnostics::tail("a\nb\nc", 2), "b\nc");
    EXPECT_EQ(Diagnostics::tail("a\nb", 80), "a\nb");
    EXPECT_EQ(Diagnostics::tail("a\nb", -3), "");
    EXPECT_EQ(Diagnostics::redact("env MAC_SHADOW_NLA=alice:0123456789abcdef0123456789abcdef next"),
              "env [removed] next");
    EXPECT_EQ(Diagnostics::redact("hash 0123456789ABCDEF0123456789abcdef."), "hash [removed].");
    EXPECT_EQ(
        Diagnostics::redact("token abcdefghijklmnopqrstuvwxyz.ABCDEFGHIJKLMNOPQRSTUVWXYZ end"),
        "token [removed] end");
    EXPECT_EQ(Diagnostics::redact("short abc.def and 0123456789abcdef0123456789abcdef0"),
              "short abc.def and 0123456789abcdef0123456789abcdef0");
}

TEST(DiagnosticsText, ReportLinesInOrder) {
    ServerSettings s;
    s.nlaLogin = "alice:0123456789abcdef0123456789abcdef";
    std::string log = "line one\nMAC_SHADOW_NLA=alice:0123456789abcdef0123456789abcdef\n";
    std::string report = Diagnostics::build(
        "1.2", "Debian 12", "QEMU", s, true,
        {{"Corvane Server Screen Recording", true}, {"Corvane Server Accessibility", false}},
        {{"en0", "192.168.1.5"}, {"wlan0", "10.0.0.3"}}, log);
    EXPECT_EQ(report, "Corvane 1.2\n"
                      "Linux Debian 12, QEMU\n"
                      "Server: running, port 3389, scale 0.75, max 30 fps (adaptive: on)\n"
                      "Max pixels 2073600, encoder: hardware, audio on, login required: yes, "
                      "remote screen: mirror\n"
                      "Windows login (NLA): set, user 'alice'\n"
                      "Permission Corvane Server Screen Recording: granted\n"
                      "Permission Corvane Server Accessibility: missing\n"
                      "Addresses: 192.168.1.5 (en0), 10.0.0.3 (wlan0)\n"
                      "\n"
                      "Last log lines:\n"
                      "line one\n[removed]\n");
}

TEST(DiagnosticsText, StoppedServerWithoutLoginOrAddresses) {
    ServerSettings s;
    s.scale = 1;
    s.adaptiveFps = false;
    s.videoEncoder = false;
    s.requireLogin = false;
    s.remoteScreen = RemoteScreen::real;
    // The failed check and "Addresses: none" are checked through Copy Diagnostics.
    std::string report = Diagnostics::build("1", "x", "y", s, false, {}, {}, "");
    EXPECT_NE(report.find("Server: stopped, port 3389, scale 1.0, max 30 fps (adaptive: off)\n"),
              std::string::npos);
    EXPECT_NE(report.find("encoder: software, audio on, login required: no, remote screen: real\n"),
              std::string::npos);
    EXPECT_NE(report.find("Windows login (NLA): not set\n"), std::string::npos);
}
