// Display queries: sizes of the main display.
#pragma once
#include "types.h"

namespace corvane::platform {

class Displays {
  public:
    virtual ~Displays() = default;
    // False when the display service cannot be reached.
    virtual bool mainDisplay(MainDisplayInfo& out) = 0;
};

} // namespace corvane::platform
