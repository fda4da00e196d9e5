#include "app/ui/login_item.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/core/paths.h"
#include "app/core/text_util.h"

namespace corvane::app::ui {

AutostartEntry::AutostartEntry(std::string entryPath, std::string executable)
    : path_(std::move(entryPath)), executable_(std::move(executable)) {}

std::string AutostartEntry::defaultEntryPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base =
        (config && config[0] == '/') ? std::string(config) : paths::homeDirectory() + "/.config";
    return base + "/autostart/corvane.desktop";
}

// An entry the user switched off in the desktop's own settings stays on disk
// with one of these keys; it does not start the program.
bool AutostartEntry::enabled() const {
    auto content = text::readFile(path_);
    if (!content)
        return false;
    for (const std::string& line : text::split(*content, '\n', false)) {
        std::string trimmed = text::trimmed(line);
        if (trimmed == "Hidden=true" || trimmed == "X-GNOME-Autostart-enabled=false")
            return false;
    }
    return true;
}

bool AutostartEntry::setEnabled(bool on, std::string& error) {
    std::error_code code;
    if (!on) {
        if (std::filesystem::remove(path_, code) || !code)
            return true;
        error = code.message();
        return false;
    }
    std::filesystem::path file(path_);
    if (!paths::makeDirectories(file.parent_path().string())) {
        error = "cannot create " + file.parent_path().string();
        return false;
    }
    std::string temporary = path_ + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Corvane\n"
               "Comment=Share this desktop over Remote Desktop\n"
               "Exec="
            << desktopExecValue(executable_)
            << "\n"
               "Terminal=false\n"
               "X-GNOME-Autostart-enabled=true\n";
        out.flush();
        if (!out) {
            error = "cannot write " + temporary + ": " + std::strerror(errno);
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path_.c_str()) != 0) {
        error = "cannot write " + path_ + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

std::string desktopExecValue(const std::string& program) {
    // Inside the double quotes, ", `, $ and \ take a backslash; % is the
    // field-code escape. The value is then a string, where \ doubles again.
    std::string quoted = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    quoted += '"';
    std::string value;
    for (char c : quoted) {
        if (c == '\\')
            value += '\\';
        value += c;
    }
    return value;
}

} // namespace corvane::app::ui
