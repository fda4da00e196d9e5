#include "child_roles.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include <gtest/gtest.h>


namespace corvane::test {

namespace {

std::map<std::string, std::function<int()>>& roles() {
    static std::map<std::string, std::function<int()>> table;
    return table;
}

// A global test environment starts after every static registration, before
// the first test: the place to turn into a helper process.
class RoleEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        const char* name = std::getenv("CORVANE_TEST_ROLE");
        if (!name || !*name)
            return;
        auto it = roles().find(name);
        int code = 120;
        if (it == roles().end())
            std::fprintf(stderr, "unknown test role %s\n", name);
        else
            code = it->second();
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(code);
    }
};

[[maybe_unused]] ::testing::Environment* const roleEnvironment =
    ::testing::AddGlobalTestEnvironment(new RoleEnvironment);

} // namespace

bool registerChildRole(const std::string& name, std::function<int()> role) {
    roles()[name] = std::move(role);
    return true;
}

std::string selfExecutable() {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error).string();
}

} // namespace corvane::test
