// The connection log: its lines are JSON whatever bytes a client sends, its
// time stamps UTC, its files rotate, and a password login's lines hold the
// account but never the password.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "login_fixture.h"
#include "server/shadow/Mac/logins/connection_log.h"

using namespace login_test;
using nlohmann::json;

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<json> linesOf(const std::string& path) {
    std::vector<json> lines;
    std::istringstream in(readAll(path));
    for (std::string line; std::getline(in, line);)
        lines.push_back(json::parse(line)); // throws on a line that is not JSON
    return lines;
}

int64_t fixedWallClock() {
    return 1'714'566'896'789; // 2024-05-01T12:34:56.789Z
}

class ConnectionLog : public LoginTest {
  protected:
    void SetUp() override {
        LoginTest::SetUp();
        char pattern[] = "/tmp/corv-connlog-XXXXXX";
        dir_ = mkdtemp(pattern);
        path_ = dir_ + "/state/Corvane/connections.jsonl";
        mac_connection_log_set_path(path_.c_str());
        mac_connection_log_set_wall_clock_for_tests(fixedWallClock);
    }
    void TearDown() override {
        mac_connection_log_set_path(nullptr);
        mac_connection_log_set_wall_clock_for_tests(nullptr);
        std::system(("rm -rf '" + dir_ + "'").c_str());
        LoginTest::TearDown();
    }
    std::string dir_, path_;
};

} // namespace

TEST_F(ConnectionLog, AnyAccountBytesMakeValidJsonWithUtcTimes) {
    const std::string odd = std::string("a\"b\\c\n\x01\xff\xc3", 9);
    mac_connection_log_login(odd.c_str(), "192.0.2.1", "password", "wrong-password", 30);
    mac_connection_log_prompt(nullptr, "192.0.2.1", "refuse", "timeout");
    mac_connection_log_mode("bob", "192.0.2.1", "view", "host");
    mac_connection_log_host_disconnect("bob", "192.0.2.1", "Disconnect in Sessions");
    const std::vector<json> lines = linesOf(path_);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0]["time"], "2024-05-01T12:34:56.789Z");
    EXPECT_EQ(lines[0]["event"], "login");
    EXPECT_EQ(lines[0]["account"].get<std::string>().substr(0, 5), std::string("a\"b\\c"));
    EXPECT_EQ(lines[0]["lockout_s"], 30);
    EXPECT_EQ(lines[1]["account"], "");
    EXPECT_EQ(lines[2]["mode"], "view");
    EXPECT_EQ(lines[3]["event"], "host-disconnect");
}

TEST_F(ConnectionLog, RotatesBeforeOneMebibyteAndKeepsFiveFiles) {
    const std::string name(200, 'n');
    for (int i = 0; i < 30'000; i++) // about 7 MiB of lines
        mac_connection_log_login(name.c_str(), "192.0.2.1", "password", "wrong-password", 0);
    for (const char* suffix : {"", ".1", ".2", ".3", ".4"}) {
        const std::string file = path_ + suffix;
        const std::string text = readAll(file);
        EXPECT_GT(text.size(), 900'000u) << file;
        EXPECT_LE(text.size(), 1'048'576u) << file;
        EXPECT_EQ(text.back(), '\n') << file << " holds whole lines only";
    }
    EXPECT_TRUE(readAll(path_ + ".5").empty()) << "no sixth file";
}

TEST_F(ConnectionLog, PasswordLoginsAndSessionsAreLoggedWithoutThePassword) {
    accounts().set("alice", "Right-Secret-1");
    FakeConnection* c = connect("192.0.2.7");
    ASSERT_NE(c, nullptr);
    auto login = [&](const char* password) {
        return mac_shadow_authenticate(subsystem(), &c->client, "alice", nullptr, password);
    };
    EXPECT_EQ(login("Wrong-Secret-2"), -1);
    EXPECT_EQ(login("Right-Secret-1"), 1);
    advance(65'000);
    disconnect(c);
    const std::vector<json> lines = linesOf(path_);
    ASSERT_EQ(lines.size(), 3u) << readAll(path_);
    EXPECT_EQ(lines[0]["result"], "wrong-password");
    EXPECT_EQ(lines[1]["result"], "ok");
    EXPECT_EQ(lines[1]["kind"], "password");
    EXPECT_EQ(lines[2]["event"], "session-end");
    EXPECT_EQ(lines[2]["account"], "alice");
    EXPECT_EQ(lines[2]["address"], "192.0.2.7");
    EXPECT_EQ(lines[2]["duration_s"], 65);
    const std::string text = readAll(path_);
    EXPECT_EQ(text.find("Secret"), std::string::npos) << text;
}
