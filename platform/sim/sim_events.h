// Sim event posting: every posted event is recorded for the test to read.
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "../events.h"

namespace corvane::platform::sim {

struct PostedEvent {
    enum class Kind { Key, Unicode, Mouse, Scroll };
    Kind kind = Kind::Key;
    uint16_t keyCode = 0;
    bool down = false;
    uint64_t flags = 0;
    std::u16string text;
    MouseEventType mouseType = MouseEventType::Moved;
    PointF at;
    int32_t button = 0;
    int64_t clickState = 0;
    int32_t verticalLines = 0;
    int32_t horizontalLines = 0;
};

class SimEvents : public EventPoster {
  public:
    bool postKey(uint16_t macKeyCode, bool down, uint64_t flags) override;
    bool postUnicode(const char16_t* units, size_t count, bool down) override;
    bool postMouse(MouseEventType type, PointF at, int32_t button, int64_t clickState) override;
    bool postScroll(int32_t verticalLines, int32_t horizontalLines) override;
    // Recorded as a count: the sim keeps no pressed state of its own.
    void releaseAll() override;
    bool inputAvailable() const override;

    std::vector<PostedEvent> posted() const;
    int releaseAllCount() const;
    void clear();
    // While refused, posting fails and records nothing.
    void setRefusing(bool refusing);
    // A desktop that takes no input at all (a picture-only session).
    void setInputAvailable(bool available);

  private:
    bool record(PostedEvent event);

    mutable std::mutex mutex_;
    std::vector<PostedEvent> posted_;
    bool refusing_ = false;
    bool inputAvailable_ = true;
    int releaseAllCount_ = 0;
};

} // namespace corvane::platform::sim
