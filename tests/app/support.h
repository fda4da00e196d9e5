// Helpers shared by the application's tests: the Qt main loop, shell
// commands and environment overrides; temporary folders and files are the
// end-to-end harness's.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/core/settings.h"
#include "e2e_harness.h"

namespace corvane::test {

using e2e::readFile;
using e2e::TempDir;
using e2e::writeFile;

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

// Runs a shell command (at most a minute); its output (standard output and
// error), or nothing when it failed.
std::optional<std::string> shell(const std::string& command);

// A test with a temporary folder as the application's state home (its log
// goes there) and a settings file of its own in that folder.
class AppTest : public ::testing::Test {
  protected:
    TempDir dir;
    ScopedEnv state{"XDG_STATE_HOME", dir.file("state")};
    std::shared_ptr<app::UserDefaults> defaults =
        std::make_shared<app::UserDefaults>(QString::fromStdString(dir.file("settings.ini")));
    std::string log() const { return readFile(dir.file("state/Corvane/Corvane.log")); }
};

} // namespace corvane::test
