#include "app/core/paths.h"

#include <pwd.h>
#include <unistd.h>

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <vector>
#include <system_error>

namespace corvane::app::paths {

namespace {

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

#ifndef __APPLE__
// An XDG base directory: the variable when it holds an absolute path (the
// XDG rules say relative values are to be ignored), else the fallback below
// the home directory.
std::string xdgDirectory(const char* variable, const char* homeFallback) {
    std::string value = environmentValue(variable);
    if (!value.empty() && value.front() == '/')
        return value;
    return homeDirectory() + homeFallback;
}
#endif

} // namespace

std::string homeDirectory() {
    std::string home = environmentValue("HOME");
    if (!home.empty())
        return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/";
}

bool makeDirectories(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return !error && std::filesystem::is_directory(path, error);
}

bool makePrivateDirectories(const std::string& path) {
    std::error_code error;
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path p = path; !p.empty() && !std::filesystem::exists(p, error);
         p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path())
            break;
    }
    if (!makeDirectories(path))
        return false;
    missing.push_back(path);
    for (const std::filesystem::path& made : missing)
        std::filesystem::permissions(made, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace, error);
    return true;
}

#ifdef __APPLE__
std::string logPath() {
    return homeDirectory() + "/Library/Logs/Corvane.log";
}

std::string statsPath() {
    std::string directory = homeDirectory() + "/Library/Application Support/Corvane";
    makeDirectories(directory);
    return directory + "/server-stats.json";
}

std::string serverCertDirectory() {
    return homeDirectory() + "/.config/freerdp/shadow";
}

std::string connectionLogPath() {
    return homeDirectory() + "/Library/Logs/Corvane Connections.jsonl";
}

std::string leftoverServerSuffix() {
    return "/Corvane Server.app/Contents/MacOS/freerdp-shadow-cli";
}

std::string serverRecordPath() {
    return homeDirectory() + "/Library/Application Support/Corvane/server.pid";
}
#else
std::string logPath() {
    // The log file's directory is made by the log writer when it appends.
    return xdgDirectory("XDG_STATE_HOME", "/.local/state") + "/Corvane/Corvane.log";
}

std::string statsPath() {
    std::string directory = xdgDirectory("XDG_DATA_HOME", "/.local/share") + "/Corvane";
    makeDirectories(directory);
    return directory + "/server-stats.json";
}

std::string connectionLogPath() {
    return xdgDirectory("XDG_STATE_HOME", "/.local/state") + "/Corvane/connections.jsonl";
}

// FreeRDP places its configuration under the XDG configuration directory.
std::string serverCertDirectory() {
    return xdgDirectory("XDG_CONFIG_HOME", "/.config") + "/freerdp/shadow";
}

// Only the server installed next to this application counts as ours: any
// other freerdp-shadow-cli of the user is left alone.
std::string leftoverServerSuffix() {
    return bundledServerPath();
}

std::string serverRecordPath() {
    return xdgDirectory("XDG_STATE_HOME", "/.local/state") + "/Corvane/server.pid";
}
#endif

std::string applicationDirectory() {
    std::error_code error;
#ifdef __APPLE__
    char buffer[4096];
    uint32_t size = sizeof buffer;
    auto self = _NSGetExecutablePath(buffer, &size) == 0
                    ? std::filesystem::weakly_canonical(buffer, error)
                    : std::filesystem::path();
#else
    auto self = std::filesystem::read_symlink("/proc/self/exe", error);
#endif
    if (error || self.empty())
        return std::filesystem::current_path(error).string();
    return self.parent_path().string();
}

std::string installedServerFolder() {
    return CORVANE_SERVER_FOLDER_FROM_APP;
}

std::string serverDirectoryFor(const std::string& applicationDirectory) {
    std::error_code error;
    if (std::filesystem::exists(applicationDirectory + "/freerdp-shadow-cli", error))
        return applicationDirectory;
    return (std::filesystem::path(applicationDirectory) / installedServerFolder())
        .lexically_normal()
        .string();
}

std::string bundledServerPath() {
    return serverDirectoryFor(applicationDirectory()) + "/freerdp-shadow-cli";
}

} // namespace corvane::app::paths
