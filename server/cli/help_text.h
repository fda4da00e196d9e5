// What the server's help adds to the shadow library's list of switches: the
// environment variables the server reads, with their values and defaults.
#pragma once
#include <cstdio>

struct CorvaneServerVariable {
    const char* name;
    const char* help;
};

// The variables, ending with an entry whose name is null.
const CorvaneServerVariable* corvane_server_variables(void);
// Prints the section that follows the switches in `--help`.
void corvane_print_server_environment(FILE* out);
