// The X11 pasteboard against another X program (xclip) and against a second
// pasteboard of its own: text and pictures both ways, values larger than one
// request (INCR) both ways, a change count that follows ownership, and an X
// server that dies in the middle of a write.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "platform/x11/x11_pasteboard.h"
#include "xvfb_fixture.h"

using corvane::platform::PasteboardType;
using corvane::platform::x11::X11Pasteboard;
using Bytes = std::vector<uint8_t>;

namespace {

// No connection of the test's own: the last case restarts the X server.
class X11PasteboardTest : public corvane::platform::x11::testing::XvfbTest {
  protected:
    void SetUp() override { startXvfb("320x240x24", false); }
    // Runs a shell command on the test's display (at most 10 s); its output.
    // The harness collects it through a file, not a pipe: an xclip left
    // serving the selection keeps what it inherited open.
    static std::string shell(const std::string& command) {
        std::string out;
        e2e::run({"sh", "-c", command + " 2>/dev/null"}, {}, std::chrono::milliseconds(10000),
                 &out);
        return out;
    }
};

// Polls (at most 10 s: sanitizer builds under load are slow) for what another
// X program does.
bool waitFor(const std::function<bool()>& condition) {
    return e2e::waitUntil(condition, std::chrono::milliseconds(10000));
}

std::string large(size_t n) {
    std::string s;
    for (size_t i = 0; s.size() < n; ++i)
        s += "line " + std::to_string(i) + " äöü\n";
    return s;
}

// The same text as ISO 8859-1 (its only non-ASCII letters are äöü).
std::string latin1(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i)
        out += static_cast<unsigned char>(utf8[i]) == 0xC3 ? static_cast<char>(utf8[++i] + 0x40)
                                                           : utf8[i];
    return out;
}

// A bare X client asking for the clipboard by hand, so that a test can drop
// an INCR transfer halfway. Every wait gives up after 5 s.
class Requestor {
  public:
    Requestor() : d_(XOpenDisplay(nullptr)) {
        w_ = XCreateSimpleWindow(d_, DefaultRootWindow(d_), 0, 0, 1, 1, 0, 0, 0);
        XSelectInput(d_, w_, PropertyChangeMask);
        property_ = XInternAtom(d_, "PROBE", False);
    }
    ~Requestor() { XCloseDisplay(d_); }

    // Asks for UTF8_STRING; true when the owner starts an INCR transfer
    // (acknowledged by deleting the announcement).
    bool askIncr() {
        XConvertSelection(d_, XInternAtom(d_, "CLIPBOARD", False),
                          XInternAtom(d_, "UTF8_STRING", False), property_, w_, CurrentTime);
        XEvent e;
        if (!next([](const XEvent& e) { return e.type == SelectionNotify; }, e) ||
            e.xselection.property == None)
            return false;
        Atom type = None;
        take(&type);
        return type == XInternAtom(d_, "INCR", False);
    }
    // The next chunk, deleted once read (an empty one ends the transfer);
    // nothing when none came.
    std::optional<std::string> chunk() {
        XEvent e;
        const Atom p = property_;
        if (!next(
                [p](const XEvent& e) {
                    return e.type == PropertyNotify && e.xproperty.atom == p &&
                           e.xproperty.state == PropertyNewValue;
                },
                e))
            return std::nullopt;
        return take(nullptr);
    }

  private:
    template <typename Match> bool next(Match match, XEvent& e) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            while (XPending(d_) > 0) {
                XNextEvent(d_, &e);
                if (match(e))
                    return true;
            }
            pollfd fd{ConnectionNumber(d_), POLLIN, 0};
            ::poll(&fd, 1, 50);
        }
        return false;
    }
    std::string take(Atom* typeOut) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::string out;
        if (XGetWindowProperty(d_, w_, property_, 0, 1L << 20, True, AnyPropertyType, &type,
                               &format, &count, &after, &data) == Success &&
            data) {
            if (format == 8)
                out.assign(reinterpret_cast<char*>(data), count);
            XFree(data);
        }
        if (typeOut)
            *typeOut = type;
        return out;
    }
    Display* d_;
    Window w_ = None;
    Atom property_ = None;
};

} // namespace

TEST_F(X11PasteboardTest, TextBothWaysWithIncrAndAChangeCountThatFollowsOwnership) {
    X11Pasteboard board;
    const int64_t start = board.changeCount();

    // Ours to xclip, larger than one request.
    const std::string big = large(3 << 20);
    ASSERT_TRUE(board.write(PasteboardType::Text, Bytes(big.begin(), big.end())));
    EXPECT_EQ(board.changeCount(), start + 1) << "our write is counted when it returns";
    EXPECT_EQ(board.types(), static_cast<uint32_t>(PasteboardType::Text));
    // (Compared with ==: a failure must not print megabytes.)
    EXPECT_TRUE(shell("xclip -selection clipboard -t UTF8_STRING -o") == big);
    EXPECT_TRUE(shell("xclip -selection clipboard -t STRING -o") == latin1(big));

    // xclip takes the selection: counted once, its text read back.
    shell("sh -c 'printf \"Grüße\" | xclip -selection clipboard -i'");
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
    EXPECT_TRUE(std::string(copy->begin(), copy->end()) == big);
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

    shell("sh -c 'printf \"II*\\0tiff\" | xclip -selection clipboard -t image/tiff -i'");
    ASSERT_TRUE(
        waitFor([&] { return board.types() == static_cast<uint32_t>(PasteboardType::Tiff); }));
    auto tiff = board.read(PasteboardType::Tiff);
    ASSERT_TRUE(tiff);
    EXPECT_EQ(std::string(tiff->begin(), tiff->end()), std::string("II*\0tiff", 8));
    EXPECT_FALSE(board.read(PasteboardType::Png));
    EXPECT_FALSE(board.read(PasteboardType::Text)) << "xclip answers any target with its TIFF";
}

TEST_F(X11PasteboardTest, IncrAskedAgainByTheSameRequestorStartsOver) {
    X11Pasteboard board;
    const std::string big = large(3 << 20);
    ASSERT_TRUE(board.write(PasteboardType::Text, Bytes(big.begin(), big.end())));

    // One chunk taken, then the same window asks again into the same
    // property: what follows must be the new transfer only.
    Requestor requestor;
    ASSERT_TRUE(requestor.askIncr());
    auto first = requestor.chunk();
    ASSERT_TRUE(first && !first->empty());
    ASSERT_TRUE(requestor.askIncr());
    std::string whole;
    for (int i = 0; i < 1000; ++i) {
        auto piece = requestor.chunk();
        ASSERT_TRUE(piece) << "the transfer stalled after " << whole.size() << " bytes";
        if (piece->empty())
            break;
        whole += *piece;
    }
    EXPECT_EQ(whole.size(), big.size());
    EXPECT_TRUE(whole == big);
}

// The X server stops answering while the pasteboard takes the selection,
// then dies, and a new one comes up on the display: the write in flight
// fails, the helper thread ends instead of waiting on the dead connection,
// and once a retry is due the pasteboard works on the new server with its
// change count going on.
TEST_F(X11PasteboardTest, WorksAgainOnAServerThatReplacedOneThatDiedMidWrite) {
    corvane::platform::Backoff::Clock::time_point now{};
    X11Pasteboard board([&] { return now; });
    ASSERT_TRUE(board.write(PasteboardType::Text, Bytes{'a'}));
    const int64_t count = board.changeCount();
    const std::string lock = e2e::readFile("/tmp/.X" + xvfb_->name().substr(1) + "-lock");
    const auto server = static_cast<pid_t>(std::strtol(lock.c_str(), nullptr, 10));
    ASSERT_GT(server, 0);
    ASSERT_EQ(::kill(server, SIGSTOP), 0);
    EXPECT_FALSE(board.write(PasteboardType::Text, Bytes{'x'})) << "a stopped server answered";
    ASSERT_TRUE(xvfb_->restart());
    // Each try moves the clock past any retry: only the helper thread's end
    // is waited for.
    ASSERT_TRUE(waitFor([&] {
        now += std::chrono::seconds(5);
        return board.write(PasteboardType::Text, Bytes{'b'});
    })) << "the pasteboard did not come back on the new server";
    EXPECT_EQ(shell("xclip -selection clipboard -o"), "b");
    EXPECT_GT(board.changeCount(), count);
}
