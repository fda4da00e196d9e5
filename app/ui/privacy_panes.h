// Opening the place where a permission is switched on. The permission
// manager names the two panes by URL; the platform layer knows what they are
// on this system, and where it has none the user is told what to check.
#pragma once
#include <string>

namespace corvane::app::ui {

void openPrivacyPane(const std::string& url);

} // namespace corvane::app::ui
