#include "xev_log.h"

#include <regex>
#include <sstream>

namespace e2e {

std::vector<XevEvent> parseXev(const std::string& text) {
    static const std::regex head(R"(^(\w+) event, serial)");
    static const std::regex where(R"(time (\d+), \(-?\d+,-?\d+\), root:\((-?\d+),(-?\d+)\))");
    static const std::regex state(R"(state 0x([0-9a-f]+))");
    static const std::regex keysym(R"(\(keysym 0x[0-9a-f]+, ([^)]+)\))");
    static const std::regex button(R"(button (\d+))");
    static const std::regex keycode(R"(keycode (\d+))"); // also first_keycode
    std::vector<XevEvent> events;
    std::istringstream in(text);
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_search(line, m, head)) {
            events.push_back({});
            events.back().type = m[1];
            continue;
        }
        if (events.empty())
            continue;
        XevEvent& e = events.back();
        if (std::regex_search(line, m, where)) {
            e.time = std::stoul(m[1]);
            e.x = std::stoi(m[2]);
            e.y = std::stoi(m[3]);
        }
        if (std::regex_search(line, m, state))
            e.state = static_cast<unsigned>(std::stoul(m[1], nullptr, 16));
        if (std::regex_search(line, m, keysym))
            e.keysym = m[1];
        if (std::regex_search(line, m, button))
            e.button = std::stoi(m[1]);
        if (std::regex_search(line, m, keycode))
            e.keycode = static_cast<unsigned>(std::stoul(m[1]));
    }
    return events;
}

std::string keyTrace(const std::vector<XevEvent>& events) {
    std::string out;
    for (const XevEvent& e : events) {
        if (e.type == "KeyPress" || e.type == "KeyRelease")
            out += e.type + " " + std::to_string(e.keycode) + " " + e.keysym + "\n";
        else if (e.type == "MappingNotify")
            out += e.type + " " + std::to_string(e.keycode) + "\n";
    }
    return out;
}

std::vector<std::string> pressedKeysyms(const std::vector<XevEvent>& events) {
    std::vector<std::string> out;
    for (const XevEvent& e : events)
        if (e.type == "KeyPress")
            out.push_back(e.keysym);
    return out;
}

} // namespace e2e
