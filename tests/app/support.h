// Helpers shared by the application's tests: a temporary directory, the Qt
// main loop, shell commands and environment overrides.
#pragma once
#include <functional>
#include <optional>
#include <string>

namespace corvane::test {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Sets an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const std::string& name, const std::optional<std::string>& value);
    ~ScopedEnv();

  private:
    std::string name_;
    std::optional<std::string> previous_;
};

// The process's QCoreApplication (created on first use): the main queue.
void ensureApplication();
// Runs the main loop until `done` holds or `seconds` pass; returns `done()`.
bool pumpUntil(const std::function<bool()>& done, double seconds);

// Runs a shell command; its standard output, or nothing when it failed.
std::optional<std::string> shell(const std::string& command);
void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

} // namespace corvane::test
