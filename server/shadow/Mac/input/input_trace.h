// Per-event log lines are limited to the first events of the process.
#pragma once

namespace mac_input_trace {

enum Kind { Key, Unicode, Click, ExtendedMouse };

// True while the kind still has trace lines left (40 keys, 40 Unicode
// events, 60 clicks, 20 extended mouse events); counts the event.
bool take(Kind kind);
void reset();

} // namespace mac_input_trace
