// Test binaries can be started again as helper processes: with
// CORVANE_TEST_ROLE set, a role runs before any test and the process exits.
//   login-store      runs the secret-store script (login_store_test.cpp) and
//                    prints one result a line
#pragma once
#include <functional>
#include <string>

namespace corvane::test {

// Registers a role under a name (called from static initialisers).
bool registerChildRole(const std::string& name, std::function<int()> role);
// The path of the running test binary.
std::string selfExecutable();

} // namespace corvane::test
