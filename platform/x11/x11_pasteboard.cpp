#include "x11_pasteboard.h"

#include "x11_selection.h"

namespace corvane::platform::x11 {

namespace {

using namespace std::chrono_literals;

// As the other services' connections: a restarting X server takes a
// moment, and after that one attempt every few seconds costs nothing.
constexpr auto kFirstRetry = 250ms;
constexpr auto kLongestRetry = 4s;

std::vector<uint8_t> latin1ToUtf8(const std::vector<uint8_t>& in) {
    std::vector<uint8_t> out;
    out.reserve(in.size());
    for (uint8_t c : in) {
        if (c < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<uint8_t>(0xC0 | (c >> 6)));
            out.push_back(static_cast<uint8_t>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

uint32_t maskOf(const std::vector<std::string>& targets) {
    uint32_t mask = 0;
    for (const auto& t : targets) {
        if (t == "UTF8_STRING" || t == "STRING" || t == "TEXT" || t == "text/plain;charset=utf-8")
            mask |= static_cast<uint32_t>(PasteboardType::Text);
        else if (t == "image/png")
            mask |= static_cast<uint32_t>(PasteboardType::Png);
        else if (t == "image/tiff")
            mask |= static_cast<uint32_t>(PasteboardType::Tiff);
    }
    return mask;
}

} // namespace

X11Pasteboard::X11Pasteboard(ClockFn clock)
    : clock_(std::move(clock)), retry_(kFirstRetry, kLongestRetry),
      count_(std::make_shared<std::atomic<int64_t>>(1)) {}

X11Pasteboard::~X11Pasteboard() = default;

std::shared_ptr<SelectionWorker> X11Pasteboard::worker() {
    std::lock_guard lock(mutex_);
    if (worker_ && worker_->alive())
        return worker_;
    const auto now = clock_();
    if (worker_) {
        // Its connection was lost: the X server went away.
        worker_.reset();
        retry_.failed(now);
    }
    if (!retry_.due(now))
        return nullptr;
    auto fresh = std::make_shared<SelectionWorker>(count_);
    if (!fresh->start()) {
        retry_.failed(now);
        return nullptr;
    }
    retry_.succeeded();
    worker_ = std::move(fresh);
    return worker_;
}

int64_t X11Pasteboard::changeCount() {
    worker(); // the count only moves while a worker watches the selection
    return count_->load();
}

uint32_t X11Pasteboard::types() {
    std::lock_guard operation(operationMutex_);
    auto w = worker();
    if (!w)
        return 0;
    if (auto owned = w->owned())
        return static_cast<uint32_t>(owned->type);
    auto reply = w->convert("TARGETS");
    return reply ? maskOf(reply->atoms) : 0;
}

std::optional<std::vector<uint8_t>> X11Pasteboard::read(PasteboardType type) {
    std::lock_guard operation(operationMutex_);
    auto w = worker();
    if (!w)
        return std::nullopt;
    if (auto owned = w->owned()) {
        if (owned->type != type)
            return std::nullopt;
        return *owned->data;
    }
    // Some owners (xclip among them) answer every target with what they
    // hold, so only a reply of the asked type counts: otherwise a TIFF would
    // pass for a PNG and a picture for text.
    if (type == PasteboardType::Png || type == PasteboardType::Tiff) {
        const char* target = type == PasteboardType::Png ? "image/png" : "image/tiff";
        auto reply = w->convert(target);
        if (!reply || reply->type != target || reply->data.empty())
            return std::nullopt;
        return std::move(reply->data);
    }
    for (const char* target : {"UTF8_STRING", "STRING"}) {
        auto reply = w->convert(target);
        if (!reply)
            continue;
        if (reply->type == "UTF8_STRING" || reply->type == "text/plain;charset=utf-8")
            return std::move(reply->data);
        if (reply->type == "STRING")
            return latin1ToUtf8(reply->data);
    }
    return std::nullopt;
}

bool X11Pasteboard::write(PasteboardType type, std::vector<uint8_t> data) {
    std::lock_guard operation(operationMutex_);
    auto w = worker();
    return w && w->own(type, std::move(data));
}

} // namespace corvane::platform::x11
