#include "cursor_forward.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "capture/mac_capture.h"
#include "core/section_lock.h"

namespace {

constexpr uint64_t kUnknownSeedRecheckMs = 1000;
constexpr double kScaleTolerance = 0.01;

MacCursorBroadcastFn gBroadcast = nullptr;

// The active clients of the previous call, to recognise new ones. Only the
// subsystem thread calls in.
struct ClientSnapshot {
    rdpShadowClient* clients[16] = {};
    int32_t count = 0;
} gSeen;

bool takeNewClients(const macShadowSubsystem* record) {
    bool fresh = false;
    const int32_t count = std::min<int32_t>(std::max<int32_t>(record->knownClientCount, 0), 16);
    for (int32_t i = 0; i < count && !fresh; ++i) {
        bool seen = false;
        for (int32_t j = 0; j < gSeen.count && !seen; ++j)
            seen = gSeen.clients[j] == record->knownClients[i];
        fresh = !seen;
    }
    for (int32_t i = 0; i < count; ++i)
        gSeen.clients[i] = record->knownClients[i];
    gSeen.count = count;
    return fresh;
}

// Desktop pixels per host point, from the first display mapping.
double currentScale(macShadowSubsystem* record) {
    SectionLock lock(record->subsystemLock);
    if (record->mappingCount >= 1 && record->mappings[0].pointsPerPixel > 0)
        return 1.0 / record->mappings[0].pointsPerPixel;
    return 1.0;
}

uint32_t evenBytes(uint32_t n) {
    return (n + 1) & ~1u;
}

uint8_t unpremultiplied(uint8_t c, uint8_t a) {
    const uint32_t v = (static_cast<uint32_t>(c) * 255 + a / 2) / a;
    return static_cast<uint8_t>(v > 255 ? 255 : v);
}

void broadcast(macShadowSubsystem* record, SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE* message) {
    if (gBroadcast) {
        gBroadcast(record->common.base.server, message);
        return;
    }
    rdpShadowServer* server = record->common.base.server;
    if (!server || !server->clients) {
        mac_shadow_message_free(SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE_ID, &message->common);
        return;
    }
    // The library frees the message through its Free once every client is done.
    shadow_client_boardcast_msg(server, nullptr, SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE_ID,
                                &message->common, nullptr);
}

} // namespace

bool mac_shadow_cursor_due(const macShadowSubsystem* record, bool newClient, int32_t seed,
                           double scale, int32_t sizeClass, uint64_t now) {
    if (newClient)
        return true;
    if (seed >= 0 && seed != record->cursorSeed)
        return true;
    if (seed < 0 && now >= record->nextCursorCheck)
        return true;
    return seed == record->cursorSeed &&
           (std::fabs(scale - record->cursorScale) > kScaleTolerance ||
            sizeClass != record->cursorSize);
}

SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE* mac_shadow_cursor_message(const uint8_t* bgra, int32_t width,
                                                               int32_t height, int32_t hotX,
                                                               int32_t hotY, uint32_t xorBpp) {
    if (!bgra || width <= 0 || height <= 0 || (xorBpp != 32 && xorBpp != 24))
        return nullptr;
    const uint32_t w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
    const uint32_t bytesPerPixel = xorBpp / 8;
    const uint32_t andStride = evenBytes((w + 7) / 8);
    const uint32_t xorStride = evenBytes(w * bytesPerPixel);
    auto* message = static_cast<SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE*>(
        std::calloc(1, sizeof(SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE)));
    if (!message)
        return nullptr;
    message->xHot = static_cast<uint32_t>(hotX);
    message->yHot = static_cast<uint32_t>(hotY);
    message->width = w;
    message->height = h;
    message->lengthAndMask = andStride * h;
    message->lengthXorMask = xorStride * h;
    message->andMaskData = static_cast<BYTE*>(std::calloc(message->lengthAndMask, 1));
    message->xorMaskData = static_cast<BYTE*>(std::calloc(message->lengthXorMask, 1));
    message->common.Free = mac_shadow_message_free;
    if (!message->andMaskData || !message->xorMaskData) {
        mac_shadow_message_free(SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE_ID, &message->common);
        return nullptr;
    }
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* src = bgra + static_cast<size_t>(y) * w * 4;
        const uint32_t row = h - 1 - y; // masks run bottom-up
        BYTE* xorRow = message->xorMaskData + static_cast<size_t>(row) * xorStride;
        BYTE* andRow = message->andMaskData + static_cast<size_t>(row) * andStride;
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t a = src[x * 4 + 3];
            const bool masked = a < 128;
            if (masked)
                andRow[x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
            if (a == 0 || (masked && bytesPerPixel == 3))
                continue; // no colour
            BYTE* out = xorRow + x * bytesPerPixel;
            for (int c = 0; c < 3; ++c)
                out[c] = unpremultiplied(src[x * 4 + c], a);
            if (bytesPerPixel == 4)
                out[3] = a;
        }
    }
    return message;
}

void mac_shadow_cursor_update(macShadowSubsystem* record, uint64_t now, uint32_t pointerSizeClass) {
    if (!record)
        return;
    const bool newClient = takeNewClients(record);
    const double scale = currentScale(record);
    const int32_t seed = mac_cursor_seed();
    const auto sizeClass = static_cast<int32_t>(pointerSizeClass);
    if (!mac_shadow_cursor_due(record, newClient, seed, scale, sizeClass, now))
        return;
    record->cursorSeed = seed;
    record->cursorScale = scale;
    record->cursorSize = sizeClass;
    record->nextCursorCheck = now + kUnknownSeedRecheckMs;

    uint8_t* pixels = nullptr;
    int32_t width = 0, height = 0, hotX = 0, hotY = 0;
    const int32_t got = mac_cursor_image(scale, sizeClass, &pixels, &width, &height, &hotX, &hotY);
    std::unique_ptr<uint8_t, decltype(&std::free)> image(pixels, &std::free);
    if (got != 1 || !pixels || width < 2 || height < 1)
        return;
    SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE* message =
        mac_shadow_cursor_message(pixels, width, height, hotX, hotY, kShadowLibraryPointerBpp);
    image.reset();
    if (message)
        broadcast(record, message);
}

void mac_shadow_cursor_set_broadcast_for_tests(MacCursorBroadcastFn fn) {
    gBroadcast = fn;
}

void mac_shadow_cursor_forget_clients() {
    gSeen = ClientSnapshot{};
}
