// The "Copy Diagnostics" report: a plain text for a support e-mail, with the
// end of the log stripped of secrets.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "app/core/net_info.h"
#include "app/core/settings.h"

namespace corvane::app::Diagnostics {

using Permission = std::pair<std::string, bool>;

std::string build(const std::string& appVersion, const std::string& osVersion,
                  const std::string& model, const ServerSettings& settings, bool running,
                  const std::vector<Permission>& permissions, const std::vector<Address>& addresses,
                  const std::string& log);
std::string redact(const std::string& text);
std::string tail(const std::string& text, int maxLines);

} // namespace corvane::app::Diagnostics
