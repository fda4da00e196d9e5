// Reading what mutter sends: the stream's Parameters, its monitor layout and
// the clipboard's owner changes, from messages built as mutter builds them.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <functional>

#include "platform/gnome/gnome_monitor_layout.h"
#include "platform/gnome/gnome_pasteboard.h"
#include "platform/gnome/gnome_session.h"

namespace corvane::platform::gnome {
namespace {

// A message filled by `fill`, sealed and rewound for reading. sd-bus makes
// messages only on a started bus: one over a socket pair nobody answers.
class Message {
  public:
    explicit Message(const std::function<int(sd_bus_message*)>& fill) {
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_) < 0)
            return;
        if (sd_bus_new(&bus_) < 0 || sd_bus_set_fd(bus_, fds_[0], fds_[0]) < 0 ||
            sd_bus_start(bus_) < 0 || sd_bus_message_new_signal(bus_, &m_, "/t", "t.T", "S") < 0)
            return;
        ok_ = fill(m_) >= 0 && sd_bus_message_seal(m_, 1, 0) >= 0 &&
              sd_bus_message_rewind(m_, 1) >= 0;
    }
    ~Message() {
        sd_bus_message_unref(m_);
        sd_bus_close_unref(bus_); // closes fds_[0]
        if (fds_[1] >= 0)
            ::close(fds_[1]);
    }
    sd_bus_message* get() const { return ok_ ? m_ : nullptr; }

  private:
    int fds_[2] = {-1, -1};
    sd_bus* bus_ = nullptr;
    sd_bus_message* m_ = nullptr;
    bool ok_ = false;
};

// A fill that appends `args` of the signature `types`.
template <class... Args>
std::function<int(sd_bus_message*)> append(const char* types, Args... args) {
    return [=](sd_bus_message* m) { return sd_bus_message_append(m, types, args...); };
}

TEST(GnomeStreamParameters, PositionAndSizeAreReadAndOtherEntriesSkipped) {
    struct Case {
        const char* name;
        std::function<int(sd_bus_message*)> fill;
        bool ok;
        GnomeStreamInfo expected;
    };
    const std::vector<Case> cases = {
        {"position and size",
         append("v", "a{sv}", 2, "position", "(ii)", 1280, 0, "size", "(ii)", 1024, 768),
         true,
         {"", 0, 1280, 0, 1024, 768}},
        {"mapping-id and an unknown entry first (mutter 45 and later)",
         append("v", "a{sv}", 3, "mapping-id", "s", "abc", "scale", "d", 2.0, "size", "(ii)", 800,
                600),
         true,
         {"", 0, 0, 0, 800, 600}},
        {"no size", append("v", "a{sv}", 1, "position", "(ii)", 5, 6), false, {"", 0, 5, 6, 0, 0}},
        {"not a dictionary", append("v", "s", "size"), false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Message message(c.fill);
        ASSERT_NE(message.get(), nullptr);
        GnomeStreamInfo info;
        EXPECT_EQ(gnomeReadStreamGeometry(message.get(), info), c.ok);
        EXPECT_EQ(info.x, c.expected.x);
        EXPECT_EQ(info.y, c.expected.y);
        EXPECT_EQ(info.width, c.expected.width);
        EXPECT_EQ(info.height, c.expected.height);
    }
}

TEST(GnomeClipboardOwner, MimeListInATupleOrBareAndTheOwnerFlag) {
    struct Case {
        const char* name;
        std::function<int(sd_bus_message*)> fill;
        std::vector<std::string> mimes;
        bool ours;
    };
    const std::vector<Case> cases = {
        {"mutter's tuple, someone else's selection",
         append("a{sv}", 2, "mime-types", "(as)", 2, "text/plain", "image/png", "session-is-owner",
                "b", 0),
         {"text/plain", "image/png"},
         false},
        {"a bare list, our own selection",
         append("a{sv}", 2, "session-is-owner", "b", 1, "mime-types", "as", 1, "UTF8_STRING"),
         {"UTF8_STRING"},
         true},
        {"an unknown entry and no list (the selection went away)",
         append("a{sv}", 1, "other", "u", 7u),
         {},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Message message(c.fill);
        ASSERT_NE(message.get(), nullptr);
        std::vector<std::string> mimes;
        bool ours = false;
        gnomeReadOwnerChange(message.get(), mimes, ours);
        EXPECT_EQ(mimes, c.mimes);
        EXPECT_EQ(ours, c.ours);
    }
}

// One monitor of GetCurrentState: its connector and modes (the current one
// flagged), in one logical monitor at x,y.
int appendMonitor(sd_bus_message* m, const char* connector, int w, int h, bool currentFirst) {
    int r = sd_bus_message_open_container(m, 'r', "(ssss)a(siiddada{sv})a{sv}");
    r = r < 0 ? r : sd_bus_message_append(m, "(ssss)", connector, "MetaVendor", "Virtual", "0");
    r = r < 0 ? r : sd_bus_message_open_container(m, 'a', "(siiddada{sv})");
    // A mode that is not current, then the current one (or the other way).
    for (int i = 0; i < 2 && r >= 0; ++i) {
        const bool current = (i == 0) == currentFirst;
        r = sd_bus_message_append(m, "(siiddada{sv})", "mode", current ? w : 640, current ? h : 480,
                                  60.0, 1.0, 1, 1.0, current ? 2 : 1, "is-current", "b", current,
                                  "is-preferred", "b", 0);
    }
    r = r < 0 ? r : sd_bus_message_close_container(m);
    r = r < 0 ? r : sd_bus_message_append(m, "a{sv}", 1, "is-builtin", "b", 0);
    return r < 0 ? r : sd_bus_message_close_container(m);
}

TEST(GnomeMonitorLayout, MonitorsWithTheirPlaceAndCurrentMode) {
    Message state([](sd_bus_message* m) {
        int r = sd_bus_message_append(m, "u", 7u);
        r = r < 0 ? r : sd_bus_message_open_container(m, 'a', "((ssss)a(siiddada{sv})a{sv})");
        r = r < 0 ? r : appendMonitor(m, "Meta-0", 1280, 800, true);
        r = r < 0 ? r : appendMonitor(m, "Meta-1", 1024, 768, false);
        r = r < 0 ? r : sd_bus_message_close_container(m);
        r = r < 0 ? r
                  : sd_bus_message_append(m, "a(iiduba(ssss)a{sv})", 2, 0, 0, 1.0, 0u, 1, 1,
                                          "Meta-0", "MetaVendor", "Virtual", "0x000001", 0, 1280,
                                          0, 1.0, 0u, 0, 1, "Meta-1", "MetaVendor", "Virtual",
                                          "0x000002", 0);
        return r < 0 ? r : sd_bus_message_append(m, "a{sv}", 1, "layout-mode", "u", 1u);
    });
    std::vector<GnomeLayoutMonitor> monitors;
    ASSERT_TRUE(gnomeReadMonitorLayout(state.get(), monitors));
    ASSERT_EQ(monitors.size(), 2u);
    EXPECT_EQ(monitors[0].connector, "Meta-0");
    EXPECT_EQ(monitors[0].x, 0);
    EXPECT_EQ(monitors[0].width, 1280);
    EXPECT_EQ(monitors[0].height, 800);
    EXPECT_EQ(monitors[1].connector, "Meta-1");
    EXPECT_EQ(monitors[1].x, 1280);
    EXPECT_EQ(monitors[1].y, 0);
    EXPECT_EQ(monitors[1].width, 1024) << "the current mode, not the first listed";
    EXPECT_EQ(monitors[1].height, 768);
    EXPECT_EQ(monitors[1].identity(), "Meta-1/0x000002");

    Message other(append("s", "no"));
    monitors.clear();
    EXPECT_FALSE(gnomeReadMonitorLayout(other.get(), monitors));
}

// mutter names a new virtual monitor after the lowest free connector: the
// monitor made for a resize is "Meta-1" again while the layout read before
// it still showed the old "Meta-1". Only the serial tells them apart.
TEST(GnomeMonitorLayout, ANewMonitorIsTheOneOfTheAskedSizeNotTakenAlready) {
    const GnomeLayoutMonitor real{"Meta-0", 0, 0, 1280, 800, 1, "0x000000"};
    const GnomeLayoutMonitor reborn{"Meta-1", 1280, 0, 1200, 700, 1, "0x000003"};
    const GnomeLayoutMonitor other{"Meta-2", 2480, 0, 1200, 700, 1, "0x000004"};
    struct Case {
        const char* what;
        std::vector<GnomeLayoutMonitor> layout;
        std::set<std::string> taken;
        const char* expected; // identity, or "" for none
    };
    const Case cases[] = {
        {"a freed name with a new serial", {real, reborn}, {"Meta-0/0x000000", "Meta-1/0x000001"},
         "Meta-1/0x000003"},
        {"the same monitor seen before", {real, reborn}, {"Meta-0/0x000000", "Meta-1/0x000003"},
         ""},
        {"one of the size given out already", {real, reborn, other},
         {"Meta-0/0x000000", "Meta-1/0x000003"}, "Meta-2/0x000004"},
        {"nothing of the asked size", {real}, {}, ""},
    };
    for (const Case& c : cases) {
        const auto found = gnomeNewMonitor(c.layout, 1200, 700, c.taken);
        EXPECT_EQ(found ? found->identity() : "", c.expected) << c.what;
    }
}

} // namespace
} // namespace corvane::platform::gnome
