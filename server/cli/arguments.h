// The server's command-line table: the shadow library's usual switches plus
// the extension layer's own.
#pragma once
#include <winpr/cmdline.h>

#include <vector>

// The table, terminated by an empty entry. One table per process.
COMMAND_LINE_ARGUMENT_A* corvane_server_arguments(void);
// Whether a boolean switch was given as +name.
bool corvane_argument_enabled(COMMAND_LINE_ARGUMENT_A* table, const char* name);
// The value of a switch given with a value, else null.
const char* corvane_argument_value(COMMAND_LINE_ARGUMENT_A* table, const char* name);
// Whether the listener is reachable from other hosts: it listens on every
// address unless /bind-address names loopback addresses only (127.0.0.0/8,
// ::1, "localhost"); a local /ipc-socket is never reachable.
bool corvane_reachable_from_network(const char* bindAddresses, const char* ipcSocket);
// The command line with the GNU spellings people type, "--help" and
// "--version", turned into the library's "/help" and "/version" (the library
// reads them as unknown switches). The pointers stay valid with argv.
std::vector<char*> corvane_server_argv(int argc, char** argv);
