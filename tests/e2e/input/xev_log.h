// Reads what xev saw: key and button events with their keysym, state,
// button and root position.
#pragma once
#include <string>
#include <vector>

namespace e2e {

struct XevEvent {
    std::string type; // KeyPress, KeyRelease, ButtonPress, ButtonRelease, MotionNotify,
                      // MappingNotify
    std::string keysym;
    unsigned keycode = 0; // of a key event; the first changed one of a MappingNotify
    unsigned state = 0;
    int button = 0;
    int x = 0, y = 0;
    unsigned long time = 0;
};

std::vector<XevEvent> parseXev(const std::string& text);
// Key events and keymap changes in order ("KeyPress 248 eacute",
// "MappingNotify 248"), for a failure message.
std::string keyTrace(const std::vector<XevEvent>& events);
// The keysym names of the key presses, in order.
std::vector<std::string> pressedKeysyms(const std::vector<XevEvent>& events);

} // namespace e2e
