// User preferences that shape input injection.
#pragma once
#include <cstdint>

namespace corvane::platform {

class InputPrefs {
  public:
    virtual ~InputPrefs() = default;
    // The double-click interval in seconds.
    virtual double doubleClickSeconds() = 0;
};

} // namespace corvane::platform
