#include "x11_resources.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include <X11/Xatom.h>

namespace corvane::platform::x11 {

namespace {

constexpr const char* kDpi = "Xft.dpi";
constexpr const char* kCursorSize = "Xcursor.size";
constexpr int kDpiAt2x = 192;
constexpr int kDefaultCursorSize = 24;

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// The name of a "name: value" line; "" for anything else.
std::string nameOf(const std::string& line) {
    const auto colon = line.find(':');
    return colon == std::string::npos ? "" : trimmed(line.substr(0, colon));
}

} // namespace

std::optional<std::string> resourceValue(const std::string& db, const std::string& name) {
    std::istringstream in(db);
    std::optional<std::string> value;
    for (std::string line; std::getline(in, line);)
        if (nameOf(line) == name)
            value = trimmed(line.substr(line.find(':') + 1)); // the last one counts
    return value;
}

std::string withResource(const std::string& db, const std::string& name,
                         const std::optional<std::string>& value) {
    std::istringstream in(db);
    std::string out;
    bool set = false;
    for (std::string line; std::getline(in, line);) {
        if (nameOf(line) == name) {
            if (value && !set)
                out += name + ":\t" + *value + "\n";
            set = true;
            continue;
        }
        out += line + "\n";
    }
    if (value && !set)
        out += name + ":\t" + *value + "\n";
    return out;
}

std::optional<std::string> readRootResources(Display* d) {
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, DefaultRootWindow(d), XA_RESOURCE_MANAGER, 0, 1 << 20, False,
                           XA_STRING, &type, &format, &items, &after, &data) != Success ||
        type != XA_STRING || format != 8) {
        if (data)
            XFree(data);
        return std::nullopt;
    }
    std::string db(reinterpret_cast<const char*>(data), items);
    XFree(data);
    return db;
}

void writeRootResources(Display* d, const std::optional<std::string>& db) {
    if (!db) {
        XDeleteProperty(d, DefaultRootWindow(d), XA_RESOURCE_MANAGER);
        return;
    }
    XChangeProperty(d, DefaultRootWindow(d), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(db->data()),
                    static_cast<int>(db->size()));
}

void HiDpiResources::apply(Display* d) {
    if (applied_)
        return;
    const auto db = readRootResources(d);
    hadDatabase_ = db.has_value();
    const std::string text = db.value_or("");
    dpi_ = resourceValue(text, kDpi);
    cursorSize_ = resourceValue(text, kCursorSize);
    int cursor = cursorSize_ ? std::atoi(cursorSize_->c_str()) : 0;
    if (cursor <= 0 || cursor > 256)
        cursor = kDefaultCursorSize;
    ourDpi_ = std::to_string(kDpiAt2x);
    ourCursorSize_ = std::to_string(2 * cursor);
    writeRootResources(
        d, withResource(withResource(text, kDpi, ourDpi_), kCursorSize, ourCursorSize_));
    applied_ = true;
}

void HiDpiResources::restore(Display* d) {
    if (!applied_)
        return;
    applied_ = false;
    std::string text = readRootResources(d).value_or("");
    // An entry someone else set meanwhile is theirs now.
    if (resourceValue(text, kDpi) == std::optional<std::string>(ourDpi_))
        text = withResource(text, kDpi, dpi_);
    if (resourceValue(text, kCursorSize) == std::optional<std::string>(ourCursorSize_))
        text = withResource(text, kCursorSize, cursorSize_);
    writeRootResources(d, text.empty() && !hadDatabase_ ? std::nullopt
                                                        : std::optional<std::string>(text));
}

namespace {
// Values in one word each; "-" for none.
std::string word(const std::optional<std::string>& v) {
    return v && !v->empty() && v->find_first_of(" \t\n") == std::string::npos ? *v : "-";
}
std::optional<std::string> unword(const std::string& w) {
    return w == "-" ? std::nullopt : std::optional<std::string>(w);
}
} // namespace

std::string HiDpiResources::save() const {
    if (!applied_)
        return "";
    return "resources " + std::to_string(hadDatabase_ ? 1 : 0) + ' ' + word(dpi_) + ' ' +
           word(cursorSize_) + ' ' + word(ourDpi_) + ' ' + word(ourCursorSize_) + '\n';
}

void HiDpiResources::load(const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream in(line);
        std::string kind, dpi, cursor, ourDpi, ourCursor;
        int had = 0;
        in >> kind >> had >> dpi >> cursor >> ourDpi >> ourCursor;
        if (kind != "resources" || !in)
            continue;
        applied_ = true;
        hadDatabase_ = had != 0;
        dpi_ = unword(dpi);
        cursorSize_ = unword(cursor);
        ourDpi_ = unword(ourDpi).value_or("");
        ourCursorSize_ = unword(ourCursor).value_or("");
    }
}

} // namespace corvane::platform::x11
