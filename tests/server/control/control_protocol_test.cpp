// The control channel's request parser and its replies.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "server/shadow/Mac/control/control_protocol.h"

using namespace mac_control;

namespace {

// "ok:<type>:<client>" for a request, "error:<message part>" for a refusal.
std::string outcome(std::string_view line) {
    const Parsed parsed = parseRequest(line);
    if (const auto* e = std::get_if<ParseError>(&parsed))
        return "error:" + e->message;
    const Request& r = std::get<Request>(parsed);
    std::string out = std::string("ok:") + requestType(r) + ":" + std::to_string(requestClient(r));
    if (const auto* m = std::get_if<SetMode>(&r))
        out += std::string(":") + modeName(m->mode);
    if (const auto* a = std::get_if<AnswerPrompt>(&r))
        out += ":" + std::to_string(static_cast<int>(a->answer));
    return out;
}

} // namespace

TEST(ControlProtocol, RequestsAreReadOrRefusedWithAReason) {
    const std::string huge =
        R"({"v":1,"type":"disconnect","id":1,"pad":")" + std::string(kMaxLine, 'x') + "\"}";
    const struct {
        std::string line;
        std::string expected;
    } cases[] = {
        {R"({"v":1,"type":"set-mode","id":7,"mode":"view"})", "ok:set-mode:7:view"},
        {R"({"type":"set-mode","v":1,"mode":"control","id":2})", "ok:set-mode:2:control"},
        {R"({"v":1,"type":"disconnect","id":3})", "ok:disconnect:3"},
        {R"({"v":1,"type":"answer","id":4,"answer":"view-only"})", "ok:answer:4:1"},
        {R"({"v":1,"type":"answer","id":4,"answer":"refuse"})", "ok:answer:4:2"},
        {R"({"v":1,"type":"reboot","id":1})", "error:unknown type"},
        {R"({"v":2,"type":"disconnect","id":1})", "error:unsupported version (this server speaks 1)"},
        {R"({"type":"disconnect","id":1})", "error:unsupported version (this server speaks 1)"},
        {R"({"v":"1","type":"disconnect","id":1})", "error:unsupported version (this server speaks 1)"},
        {R"({"v":1,"type":"disconnect","id":-1})", "error:no client id"},
        {R"({"v":1,"type":"disconnect","id":"1"})", "error:no client id"},
        {R"({"v":1,"type":"set-mode","id":1,"mode":"admin"})", "error:mode must be \"view\" or \"control\""},
        {R"({"v":1,"type":"answer","id":1})", "error:answer must be \"allow\", \"view-only\" or \"refuse\""},
        {R"({"v":1,"type":"disconnect","id":1)", "error:not JSON"},
        {"", "error:not JSON"},
        {"\xff\xfe", "error:not JSON"},
        {R"([1,2])", "error:not a JSON object"},
        {R"({"v":1})", "error:no type"},
        {huge, "error:line longer than 64 KiB"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(outcome(c.line), c.expected) << c.line.substr(0, 80);
}

TEST(ControlProtocol, EventsAreSingleVersionedLinesThatSurviveOddNames) {
    ClientStats stats{"h264", 1920, 1080, 29.96, 1234.4, std::nullopt, 2};
    const std::string lines[] = {
        connectingEvent(5, "10.0.0.2", "bob\n\"x\"\xff", "password"),
        statsEvent(5, stats),
        errorReply("answer", "no prompt is pending for this client"),
    };
    for (const std::string& l : lines) {
        ASSERT_EQ(l.back(), '\n');
        EXPECT_EQ(l.find('\n'), l.size() - 1) << "one line: " << l;
        const auto j = nlohmann::json::parse(l);
        EXPECT_EQ(j["v"], kVersion);
    }
    const auto s = nlohmann::json::parse(lines[1]);
    EXPECT_EQ(s["fps"], 30.0);
    EXPECT_EQ(s["kbps"], 1234);
    EXPECT_TRUE(s["rtt_ms"].is_null());
    EXPECT_EQ(s["waiting"], 2);
}
