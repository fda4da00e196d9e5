// The server's command-line table: the shadow library's usual switches plus
// the extension layer's own.
#pragma once
#include <winpr/cmdline.h>

// The table, terminated by an empty entry. One table per process.
COMMAND_LINE_ARGUMENT_A* corvane_server_arguments(void);
// Whether a boolean switch was given as +name.
bool corvane_argument_enabled(COMMAND_LINE_ARGUMENT_A* table, const char* name);
