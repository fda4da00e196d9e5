#include "gnome_pasteboard.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <thread>

#include "gnome_clipboard_mime.h"

namespace corvane::platform::gnome {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kCallLimit = 3s;
constexpr auto kStallLimit = 3s;
constexpr auto kTransferLimit = 60s;
constexpr size_t kMaxIncoming = size_t(96) << 20;

// The answer of one session call, waited for off the bus thread.
struct Reply {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool ok = false;
    int fd = -1; // a descriptor the reply carried, duplicated

    ~Reply() {
        if (fd >= 0)
            ::close(fd);
    }
    bool wait() {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, kCallLimit, [&] { return done; }) && ok;
    }
};

BusReply answerInto(std::shared_ptr<Reply> reply, bool takeFd) {
    return [reply, takeFd](sd_bus_message* m, const std::string&) {
        int fd = -1;
        bool ok = m != nullptr;
        if (ok && takeFd) {
            int busFd = -1;
            ok = sd_bus_message_read(m, "h", &busFd) >= 0 && busFd >= 0 &&
                 (fd = fcntl(busFd, F_DUPFD_CLOEXEC, 3)) >= 0;
        }
        std::lock_guard lock(reply->mutex);
        reply->done = true;
        reply->ok = ok;
        reply->fd = fd;
        reply->cv.notify_all();
    };
}

// Reads a pipe to its end within the limits; nothing when they are passed.
std::optional<std::vector<uint8_t>> readAll(int fd) {
    std::vector<uint8_t> data;
    const auto start = Clock::now();
    uint8_t chunk[65536];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(std::chrono::milliseconds(kStallLimit).count()));
        if (ready <= 0 || Clock::now() - start > kTransferLimit)
            return std::nullopt;
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0)
            return data;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return std::nullopt;
        }
        if (data.size() + size_t(n) > kMaxIncoming)
            return std::nullopt;
        data.insert(data.end(), chunk, chunk + n);
    }
}

void writeAll(int fd, const std::vector<uint8_t>& data) {
    size_t at = 0;
    while (at < data.size()) {
        const ssize_t n = ::write(fd, data.data() + at, data.size() - at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        at += size_t(n);
    }
}

} // namespace

void gnomeReadOwnerChange(sd_bus_message* m, std::vector<std::string>& mimes, bool& ours) {
    if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0)
        return;
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char* key = nullptr;
        sd_bus_message_read(m, "s", &key);
        const std::string name = key ? key : "";
        const char* type = nullptr;
        sd_bus_message_peek_type(m, nullptr, &type);
        if (name == "session-is-owner" && type && std::string(type) == "b") {
            int b = 0;
            sd_bus_message_read(m, "v", "b", &b);
            ours = b != 0;
        } else if (name == "mime-types" && type &&
                   (std::string(type) == "(as)" || std::string(type) == "as")) {
            const bool tuple = std::string(type) == "(as)";
            sd_bus_message_enter_container(m, 'v', type);
            if (tuple)
                sd_bus_message_enter_container(m, 'r', "as");
            char** list = nullptr;
            if (sd_bus_message_read_strv(m, &list) >= 0 && list) {
                for (char** s = list; *s; ++s) {
                    mimes.emplace_back(*s);
                    free(*s);
                }
                free(list);
            }
            if (tuple)
                sd_bus_message_exit_container(m);
            sd_bus_message_exit_container(m);
        } else {
            sd_bus_message_skip(m, "v");
        }
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
}

struct GnomePasteboard::State {
    std::mutex enabling; // one caller switches the clipboard on
    std::mutex mutex;
    int64_t changeCount = 0;
    std::string enabledFor; // the session the clipboard is on for
    std::vector<std::string> desktopMimes;
    bool oursOwned = false;
    PasteboardType ourType = PasteboardType::Text;
    std::vector<uint8_t> ourData;
};

GnomePasteboard::GnomePasteboard(GnomeSession& session)
    : session_(session), state_(std::make_shared<State>()) {}

GnomePasteboard::~GnomePasteboard() = default;

// Switches the clipboard on for the running session, once per session.
bool GnomePasteboard::enabled() {
    const std::string path = session_.remoteDesktopPath();
    if (path.empty())
        return false;
    std::lock_guard enabling(state_->enabling);
    {
        std::lock_guard lock(state_->mutex);
        if (state_->enabledFor == path)
            return true;
    }
    std::weak_ptr<State> weak = state_;
    GnomeSession* session = &session_;
    session_.subscribe("SelectionOwnerChanged", [weak](sd_bus_message* m) {
        std::vector<std::string> mimes;
        bool ours = false;
        gnomeReadOwnerChange(m, mimes, ours);
        auto state = weak.lock();
        if (!state || ours)
            return; // our own SetSelection, already counted
        std::lock_guard lock(state->mutex);
        state->desktopMimes = std::move(mimes);
        state->oursOwned = false;
        ++state->changeCount;
    });
    session_.subscribe("SelectionTransfer", [weak, session](sd_bus_message* m) {
        const char* mime = nullptr;
        uint32_t serial = 0;
        if (sd_bus_message_read(m, "su", &mime, &serial) < 0)
            return;
        auto state = weak.lock();
        std::vector<uint8_t> data;
        bool have = false;
        if (state && mime) {
            std::lock_guard lock(state->mutex);
            const auto meaning = gnomeMimeMeaning(mime);
            have = state->oursOwned && meaning && meaning->type == state->ourType &&
                   meaning->encoding == GnomeTextEncoding::Utf8;
            if (have)
                data = state->ourData;
        }
        auto done = [session, serial](bool ok) {
            session->callSession("SelectionWriteDone", [serial, ok](sd_bus_message* r) {
                return sd_bus_message_append(r, "ub", serial, int(ok));
            });
        };
        if (!have) {
            done(false);
            return;
        }
        // The writing happens off the bus thread: the reader may be slow.
        session->callSession(
            "SelectionWrite",
            [serial](sd_bus_message* r) { return sd_bus_message_append(r, "u", serial); },
            [data = std::move(data), done](sd_bus_message* reply, const std::string&) mutable {
                int busFd = -1;
                int fd = -1;
                if (reply && sd_bus_message_read(reply, "h", &busFd) >= 0 && busFd >= 0)
                    fd = fcntl(busFd, F_DUPFD_CLOEXEC, 3);
                if (fd < 0) {
                    done(false);
                    return;
                }
                std::thread([fd, data = std::move(data), done] {
                    writeAll(fd, data);
                    ::close(fd);
                    done(true);
                }).detach();
            });
    });
    auto reply = std::make_shared<Reply>();
    session_.callSession(
        "EnableClipboard", [](sd_bus_message* m) { return sd_bus_message_append(m, "a{sv}", 0); },
        answerInto(reply, false));
    if (!reply->wait())
        return false;
    std::lock_guard lock(state_->mutex);
    state_->enabledFor = path;
    return true;
}

int64_t GnomePasteboard::changeCount() {
    enabled();
    std::lock_guard lock(state_->mutex);
    return state_->changeCount;
}

uint32_t GnomePasteboard::types() {
    enabled();
    std::lock_guard lock(state_->mutex);
    if (state_->oursOwned)
        return uint32_t(state_->ourType);
    return gnomePasteboardTypes(state_->desktopMimes);
}

std::optional<std::vector<uint8_t>> GnomePasteboard::read(PasteboardType type) {
    if (!enabled())
        return std::nullopt;
    std::optional<std::string> mime;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->oursOwned)
            return state_->ourType == type ? std::optional(state_->ourData) : std::nullopt;
        mime = gnomeMimeToRead(state_->desktopMimes, type);
    }
    if (!mime)
        return std::nullopt;
    auto reply = std::make_shared<Reply>();
    session_.callSession(
        "SelectionRead",
        [m = *mime](sd_bus_message* msg) { return sd_bus_message_append(msg, "s", m.c_str()); },
        answerInto(reply, true));
    if (!reply->wait())
        return std::nullopt;
    auto data = readAll(reply->fd);
    const auto meaning = gnomeMimeMeaning(*mime);
    if (data && meaning && meaning->encoding == GnomeTextEncoding::Latin1)
        data = gnomeUtf8FromLatin1(*data);
    return data;
}

bool GnomePasteboard::write(PasteboardType type, std::vector<uint8_t> data) {
    if (!enabled())
        return false;
    const std::vector<std::string> mimes = gnomeMimesToOffer(type);
    if (mimes.empty())
        return false;
    auto reply = std::make_shared<Reply>();
    const bool posted = session_.callSession(
        "SetSelection",
        [mimes](sd_bus_message* m) {
            int r = sd_bus_message_open_container(m, 'a', "{sv}");
            if (r >= 0)
                r = sd_bus_message_open_container(m, 'e', "sv");
            if (r >= 0)
                r = sd_bus_message_append(m, "s", "mime-types");
            if (r >= 0)
                r = sd_bus_message_open_container(m, 'v', "as");
            if (r >= 0)
                r = sd_bus_message_open_container(m, 'a', "s");
            for (const auto& mime : mimes)
                if (r >= 0)
                    r = sd_bus_message_append(m, "s", mime.c_str());
            for (int i = 0; i < 4 && r >= 0; ++i)
                r = sd_bus_message_close_container(m);
            return r;
        },
        answerInto(reply, false));
    if (!posted)
        return false;
    // Counted before SetSelection is answered: the owner change it causes
    // is ours and is not counted again.
    {
        std::lock_guard lock(state_->mutex);
        state_->oursOwned = true;
        state_->ourType = type;
        state_->ourData = std::move(data);
        ++state_->changeCount;
    }
    if (reply->wait())
        return true;
    std::lock_guard lock(state_->mutex);
    state_->oursOwned = false;
    return false;
}

} // namespace corvane::platform::gnome
