// Reads what xev saw: key and button events with their keysym, state,
// button and root position.
#pragma once
#include <string>
#include <vector>

namespace e2e {

struct XevEvent {
    std::string type; // KeyPress, KeyRelease, ButtonPress, ButtonRelease, MotionNotify
    std::string keysym;
    unsigned state = 0;
    int button = 0;
    int x = 0, y = 0;
    unsigned long time = 0;
};

std::vector<XevEvent> parseXev(const std::string& text);
// The keysym names of the key presses, in order.
std::vector<std::string> pressedKeysyms(const std::vector<XevEvent>& events);

} // namespace e2e
