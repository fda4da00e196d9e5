#include "connection_log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "base/clock.h"
#include "base/log.h"

namespace {

using nlohmann::json;

constexpr off_t kRotateBytes = 1024 * 1024;
constexpr int kOlderFiles = 4; // with the current one, 5 files

struct Session {
    std::string account, address, kind;
    uint64_t beganMs = 0;
};

std::mutex gMutex; // the path, the file and the sessions
std::string gPath;
std::map<const void*, Session> gSessions;
std::atomic<bool> gWarned{false};
std::atomic<int64_t (*)(void)> gWallClock{nullptr};

int64_t wallNowMs() {
    if (auto clock = gWallClock.load())
        return clock();
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// "2024-05-01T12:34:56.789Z": built from numbers, so no locale can change it.
std::string isoTime(int64_t ms) {
    const time_t seconds = static_cast<time_t>(ms / 1000);
    tm utc{};
    gmtime_r(&seconds, &utc);
    char text[96]; // room for any int the fields could hold
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
}

std::string text(const char* value) {
    return value ? std::string(value) : std::string();
}

void makeFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        (void)mkdir(path.substr(0, slash).c_str(), 0700);
}

void warnOnce(const std::string& path) {
    if (!gWarned.exchange(true))
        MAC_WARN("connection log: cannot write %s: its lines are dropped", path.c_str());
}

// Older files move up one place (the oldest is dropped), the current one
// becomes .1.
void rotate(const std::string& path) {
    for (int i = kOlderFiles - 1; i >= 1; i--)
        (void)std::rename((path + "." + std::to_string(i)).c_str(),
                          (path + "." + std::to_string(i + 1)).c_str());
    (void)std::rename(path.c_str(), (path + ".1").c_str());
}

// Under gMutex.
void writeLine(json line) {
    if (gPath.empty())
        return;
    line["time"] = isoTime(wallNowMs());
    const std::string bytes = line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    struct stat info {};
    if (stat(gPath.c_str(), &info) == 0 && info.st_size > 0 &&
        info.st_size + static_cast<off_t>(bytes.size()) > kRotateBytes)
        rotate(gPath);
    const int fd = open(gPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        warnOnce(gPath);
        return;
    }
    // One write per line: lines of concurrent writers never mix.
    if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        warnOnce(gPath);
    close(fd);
}

void log(json line) {
    std::lock_guard lock(gMutex);
    writeLine(std::move(line));
}

std::string defaultPath() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return std::string(state) + "/Corvane/connections.jsonl";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.local/state/Corvane/connections.jsonl";
    return {};
}

} // namespace

extern "C" void mac_connection_log_set_path(const char* path) {
    std::lock_guard lock(gMutex);
    gPath = text(path);
    gSessions.clear();
    gWarned.store(false);
    if (!gPath.empty())
        makeFolders(gPath);
}

extern "C" void mac_connection_log_open(void) {
    const char* value = std::getenv("MAC_SHADOW_CONNECTION_LOG");
    const std::string path = value ? std::string(value) : defaultPath();
    mac_connection_log_set_path(path.c_str());
    if (path.empty())
        MAC_INFO("connection log: off");
    else
        MAC_INFO("connection log: %s", path.c_str());
}

extern "C" void mac_connection_log_set_wall_clock_for_tests(int64_t (*nowMs)(void)) {
    gWallClock.store(nowMs);
}

extern "C" void mac_connection_log_login(const char* account, const char* address, const char* kind,
                                         const char* result, uint64_t lockoutSeconds) {
    log({{"event", "login"},
         {"account", text(account)},
         {"address", text(address)},
         {"kind", text(kind)},
         {"result", text(result)},
         {"lockout_s", lockoutSeconds}});
}

extern "C" void mac_connection_log_session_begin(const void* client, const char* account,
                                                 const char* address, const char* kind) {
    if (!client)
        return;
    std::lock_guard lock(gMutex);
    gSessions[client] = {text(account), text(address), text(kind), mac_now_ms()};
}

extern "C" void mac_connection_log_session_end(const void* client, int64_t frames, int64_t bytes) {
    std::lock_guard lock(gMutex);
    const auto found = gSessions.find(client);
    if (found == gSessions.end())
        return;
    const Session session = std::move(found->second);
    gSessions.erase(found);
    json line = {{"event", "session-end"},
                 {"account", session.account},
                 {"address", session.address},
                 {"kind", session.kind},
                 {"duration_s", (mac_now_ms() - session.beganMs) / 1000}};
    if (frames >= 0)
        line["frames"] = frames;
    if (bytes >= 0)
        line["bytes"] = bytes;
    writeLine(std::move(line));
}

extern "C" void mac_connection_log_prompt(const char* account, const char* address,
                                          const char* answer, const char* by) {
    log({{"event", "prompt"},
         {"account", text(account)},
         {"address", text(address)},
         {"answer", text(answer)},
         {"by", text(by)}});
}

extern "C" void mac_connection_log_mode(const char* account, const char* address, const char* mode,
                                        const char* by) {
    log({{"event", "mode"},
         {"account", text(account)},
         {"address", text(address)},
         {"mode", text(mode)},
         {"by", text(by)}});
}

extern "C" void mac_connection_log_host_disconnect(const char* account, const char* address,
                                                   const char* reason) {
    log({{"event", "host-disconnect"},
         {"account", text(account)},
         {"address", text(address)},
         {"reason", text(reason)}});
}
