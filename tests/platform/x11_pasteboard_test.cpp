// The X11 pasteboard against another X program (xclip) and against a second
// pasteboard of its own: text and pictures both ways, values larger than one
// request (INCR) both ways, and a change count that follows ownership.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "platform/x11/x11_pasteboard.h"
#include "xvfb_server.h"

using corvane::platform::PasteboardType;
using corvane::platform::x11::X11Pasteboard;
using Bytes = std::vector<uint8_t>;

namespace {

class X11PasteboardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(xvfb_.start(320, 240)) << "no Xvfb on :50-:59";
        setenv("DISPLAY", xvfb_.name().c_str(), 1);
    }
    // Runs a shell command on the test's display; its output. A command that
    // leaves a process serving the selection must send that process's output
    // elsewhere, or reading would wait for it to end.
    static std::string shell(const std::string& command) {
        std::string out;
        FILE* p = popen(("timeout 10 " + command).c_str(), "r");
        char buffer[65536];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;)
            out.append(buffer, n);
        pclose(p);
        return out;
    }
    corvane::testing::XvfbServer xvfb_;
};

// Polls (at most 5 s) for what another X program does.
bool waitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 100; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

std::string large(size_t n) {
    std::string s;
    for (size_t i = 0; s.size() < n; ++i)
        s += "line " + std::to_string(i) + " äöü\n";
    return s;
}

} // namespace

TEST_F(X11PasteboardTest, TextBothWaysWithIncrAndAChangeCountThatFollowsOwnership) {
    X11Pasteboard board;
    const int64_t start = board.changeCount();

    // Ours to xclip, larger than one request.
    const std::string big = large(3 << 20);
    ASSERT_TRUE(board.write(PasteboardType::Text, Bytes(big.begin(), big.end())));
    EXPECT_EQ(board.changeCount(), start + 1) << "our write is counted when it returns";
    EXPECT_EQ(board.types(), static_cast<uint32_t>(PasteboardType::Text));
    EXPECT_EQ(shell("xclip -selection clipboard -t UTF8_STRING -o"), big);
    EXPECT_EQ(shell("xclip -selection clipboard -t STRING -o").substr(0, 12),
              "line 0 \xE4\xF6\xFC\n");

    // xclip takes the selection: counted once, its text read back.
    shell("sh -c 'printf \"Grüße\" | xclip -selection clipboard -i >/dev/null 2>&1'");
    ASSERT_TRUE(waitFor([&] { return board.changeCount() == start + 2; }));
    EXPECT_EQ(board.types(), static_cast<uint32_t>(PasteboardType::Text));
    auto text = board.read(PasteboardType::Text);
    ASSERT_TRUE(text);
    EXPECT_EQ(std::string(text->begin(), text->end()), "Grüße");
    EXPECT_FALSE(board.read(PasteboardType::Png));

    // A second pasteboard (another connection) reads ours by INCR.
    X11Pasteboard other;
    ASSERT_TRUE(board.write(PasteboardType::Text, Bytes(big.begin(), big.end())));
    auto copy = other.read(PasteboardType::Text);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->size(), big.size());
    EXPECT_TRUE(std::equal(copy->begin(), copy->end(), big.begin()));
}

TEST_F(X11PasteboardTest, PicturesAsPngFromAndToOtherPrograms) {
    X11Pasteboard board;
    const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 1, 2, 3};
    ASSERT_TRUE(board.write(PasteboardType::Png, png));
    EXPECT_EQ(shell("xclip -selection clipboard -t TARGETS -o").find("image/png") !=
                  std::string::npos,
              true);
    const std::string out = shell("xclip -selection clipboard -t image/png -o");
    EXPECT_EQ(Bytes(out.begin(), out.end()), png);

    shell("sh -c 'printf \"II*\\0tiff\" | xclip -selection clipboard -t image/tiff -i >/dev/null 2>&1'");
    ASSERT_TRUE(
        waitFor([&] { return board.types() == static_cast<uint32_t>(PasteboardType::Tiff); }));
    auto tiff = board.read(PasteboardType::Tiff);
    ASSERT_TRUE(tiff);
    EXPECT_EQ(std::string(tiff->begin(), tiff->end()), std::string("II*\0tiff", 8));
    EXPECT_FALSE(board.read(PasteboardType::Png));
}
