// The statistics file: a one-line JSON summary rewritten every minute for
// the application to read.
#pragma once
#include <cstddef>
#include <cstdint>

#include "mac_shadow.h"

struct StatsClient {
    uint32_t osMajorType;
    bool graphicsPipeline; // the client opened the graphics pipeline
    bool h264;             // the agreed pipeline capabilities allow H.264
};

// The short name of a client's operating system (its settings' major
// type): "windows", "mac", "unix", "ios", "android", "chromeos" or "other".
const char* mac_shadow_os_name(uint32_t major);

// The clients text for the given clients, at most outSize - 1 characters:
// entries that do not fit end the list.
void mac_shadow_stats_clients_text(const StatsClient* clients, size_t count, bool hidpi, char* out,
                                   size_t outSize);
// The file's line for the counters and clients text.
int mac_shadow_stats_line(const macShadowSubsystem* record, const char* clients, char* out,
                          size_t outSize);
// Writes the file when it is due.
void mac_shadow_stats_file_tick(macShadowSubsystem* record, uint64_t now);
