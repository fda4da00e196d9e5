#include "sim_events.h"

namespace corvane::platform::sim {

bool SimEvents::record(PostedEvent event) {
    std::lock_guard lock(mutex_);
    if (refusing_)
        return false;
    posted_.push_back(std::move(event));
    return true;
}

bool SimEvents::postKey(uint16_t macKeyCode, bool down, uint64_t flags) {
    PostedEvent e;
    e.kind = PostedEvent::Kind::Key;
    e.keyCode = macKeyCode;
    e.down = down;
    e.flags = flags;
    return record(std::move(e));
}

bool SimEvents::postUnicode(const char16_t* units, size_t count, bool down) {
    if (!units || count == 0)
        return false;
    PostedEvent e;
    e.kind = PostedEvent::Kind::Unicode;
    e.text.assign(units, count);
    e.down = down;
    return record(std::move(e));
}

bool SimEvents::postMouse(MouseEventType type, PointF at, int32_t button, int64_t clickState) {
    PostedEvent e;
    e.kind = PostedEvent::Kind::Mouse;
    e.mouseType = type;
    e.at = at;
    e.button = button;
    e.clickState = clickState;
    return record(std::move(e));
}

bool SimEvents::postScroll(int32_t verticalLines, int32_t horizontalLines) {
    PostedEvent e;
    e.kind = PostedEvent::Kind::Scroll;
    e.verticalLines = verticalLines;
    e.horizontalLines = horizontalLines;
    return record(std::move(e));
}

void SimEvents::releaseAll() {
    std::lock_guard lock(mutex_);
    ++releaseAllCount_;
}

int SimEvents::releaseAllCount() const {
    std::lock_guard lock(mutex_);
    return releaseAllCount_;
}

std::vector<PostedEvent> SimEvents::posted() const {
    std::lock_guard lock(mutex_);
    return posted_;
}

void SimEvents::clear() {
    std::lock_guard lock(mutex_);
    posted_.clear();
    releaseAllCount_ = 0;
}

void SimEvents::setRefusing(bool refusing) {
    std::lock_guard lock(mutex_);
    refusing_ = refusing;
}

bool SimEvents::inputAvailable() const {
    std::lock_guard lock(mutex_);
    return inputAvailable_;
}

void SimEvents::setInputAvailable(bool available) {
    std::lock_guard lock(mutex_);
    inputAvailable_ = available;
}

} // namespace corvane::platform::sim
