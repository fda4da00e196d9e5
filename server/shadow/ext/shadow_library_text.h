// Where the packaged shadow library's code lies in memory: the hooks that
// stand in front of a function of FreeRDP's codec library steer only the
// shadow library's own calls of it.
#pragma once

// Whether `address` (a return address) lies in the shadow library's code.
bool shadow_ext_in_shadow_library(const void* address);
