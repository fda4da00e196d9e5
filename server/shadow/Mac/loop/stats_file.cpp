#include "stats_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <freerdp/settings.h>

namespace {

const char* codecName(const StatsClient& c) {
    if (!c.graphicsPipeline)
        return "nogfx";
    return c.h264 ? "h264" : "no-h264";
}

bool desktopHiDpi(const macShadowSubsystem* record) {
    if (!record->virtualActive)
        return false;
    for (uint32_t i = 0; i < record->currentPlan.count && i < 16; ++i)
        if (record->currentPlan.hidpi[i])
            return true;
    return false;
}

StatsClient describe(rdpShadowClient* client) {
    const rdpSettings* s = client->context.settings;
    StatsClient c{freerdp_settings_get_uint32(s, FreeRDP_OsMajorType), false, false};
    c.graphicsPipeline =
        freerdp_settings_get_bool(s, FreeRDP_SupportGraphicsPipeline) && client->rdpgfx != nullptr;
    c.h264 = freerdp_settings_get_bool(s, FreeRDP_GfxH264) ||
             freerdp_settings_get_bool(s, FreeRDP_GfxAVC444) ||
             freerdp_settings_get_bool(s, FreeRDP_GfxAVC444v2);
    return c;
}

void buildClientsText(macShadowSubsystem* record, char* out, size_t outSize) {
    std::vector<StatsClient> list;
    wArrayList* clients = record->common.base.server->clients;
    ArrayList_Lock(clients);
    for (size_t i = 0; i < ArrayList_Count(clients); ++i) {
        auto* client = static_cast<rdpShadowClient*>(ArrayList_GetItem(clients, i));
        if (client && client->activated && client->context.settings)
            list.push_back(describe(client));
    }
    ArrayList_Unlock(clients);
    mac_shadow_stats_clients_text(list.data(), list.size(), desktopHiDpi(record), out, outSize);
}

} // namespace

void mac_shadow_stats_clients_text(const StatsClient* clients, size_t count, bool hidpi, char* out,
                                   size_t outSize) {
    if (!out || outSize == 0)
        return;
    out[0] = '\0';
    size_t used = 0;
    for (size_t i = 0; i < count; ++i) {
        char entry[64];
        const int n = std::snprintf(entry, sizeof entry, "%s%s/%s%s", i ? "," : "",
                                    mac_shadow_os_name(clients[i].osMajorType),
                                    codecName(clients[i]), hidpi ? "/hidpi" : "");
        if (n < 0 || used + static_cast<size_t>(n) >= outSize)
            break;
        std::memcpy(out + used, entry, static_cast<size_t>(n) + 1);
        used += static_cast<size_t>(n);
    }
}

int mac_shadow_stats_line(const macShadowSubsystem* r, const char* clients, char* out,
                          size_t outSize) {
    return std::snprintf(
        out, outSize,
        "{\"sessions\":%llu,\"repaints\":%llu,\"resizes\":%llu,\"riskEvents\":%llu,"
        "\"stalls\":%llu,\"clients\":\"%s\"}\n",
        static_cast<unsigned long long>(r->sessions), static_cast<unsigned long long>(r->repaints),
        static_cast<unsigned long long>(r->resizes), static_cast<unsigned long long>(r->riskEvents),
        static_cast<unsigned long long>(r->stalls), clients);
}

void mac_shadow_stats_file_tick(macShadowSubsystem* record, uint64_t now) {
    if (now < record->nextStatsWrite)
        return;
    record->nextStatsWrite = now + 60000;
    const char* path = std::getenv("MAC_SHADOW_STATS_FILE");
    rdpShadowServer* server = record->common.base.server;
    if (!path || !*path || !server || !server->clients)
        return;
    char clients[256];
    buildClientsText(record, clients, sizeof clients);
    char tmp[1024];
    const int n = std::snprintf(tmp, sizeof tmp, "%s.tmp", path);
    if (n < 0 || static_cast<size_t>(n) >= sizeof tmp)
        return;
    char line[512];
    mac_shadow_stats_line(record, clients, line, sizeof line);
    FILE* f = std::fopen(tmp, "w");
    if (!f)
        return;
    // A short write must not replace the last good file with a broken one.
    const bool written = std::fputs(line, f) >= 0;
    if (std::fclose(f) != 0 || !written) {
        std::remove(tmp);
        return;
    }
    std::rename(tmp, path);
}

const char* mac_shadow_os_name(uint32_t major) {
    switch (major) {
    case 1:
        return "windows";
    case 3:
    case 6:
        return "mac";
    case 4:
        return "unix";
    case 5:
        return "ios";
    case 7:
        return "android";
    case 8:
        return "chromeos";
    default:
        return "other";
    }
}
