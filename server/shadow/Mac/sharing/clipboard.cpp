#include "clipboard.h"

#include "capture/mac_capture.h"
#include "server/shadow/ext/cliprdr_channel.h"

extern "C" BOOL mac_shadow_clipboard_get_text(rdpShadowSubsystem* subsystem, char** text) {
    (void)subsystem;
    if (!text)
        return FALSE;
    return mac_clipboard_get(text) == 1 ? TRUE : FALSE;
}

// The count is taken again after our own write, whether it succeeded or not,
// so that the next poll does not announce a client's paste back to the
// clients as a change on the desktop.
extern "C" BOOL mac_shadow_clipboard_set_text(rdpShadowSubsystem* subsystem, const char* text) {
    if (!subsystem || !text)
        return FALSE;
    auto* record = reinterpret_cast<macShadowSubsystem*>(subsystem);
    const int32_t written = mac_clipboard_set(text);
    record->clipboardChangeCount.store(mac_clipboard_change_count());
    return written == 1 ? TRUE : FALSE;
}

extern "C" UINT32 mac_shadow_clipboard_available(rdpShadowSubsystem* subsystem) {
    (void)subsystem;
    return mac_clipboard_available();
}

extern "C" BOOL mac_shadow_clipboard_get_image(rdpShadowSubsystem* subsystem, BYTE** pixels,
                                               UINT32* width, UINT32* height) {
    (void)subsystem;
    if (!pixels || !width || !height)
        return FALSE;
    uint32_t w = 0, h = 0;
    if (mac_clipboard_get_image(pixels, &w, &h) != 1)
        return FALSE;
    *width = w;
    *height = h;
    return TRUE;
}

extern "C" BOOL mac_shadow_clipboard_set_image(rdpShadowSubsystem* subsystem, const BYTE* pixels,
                                               UINT32 width, UINT32 height) {
    if (!subsystem || !pixels)
        return FALSE;
    auto* record = reinterpret_cast<macShadowSubsystem*>(subsystem);
    const int32_t written = mac_clipboard_set_image(pixels, width, height);
    record->clipboardChangeCount.store(mac_clipboard_change_count());
    return written == 1 ? TRUE : FALSE;
}

void mac_shadow_clipboard_fill_callbacks(macShadowSubsystem* record) {
    record->common.ClipboardGetText = mac_shadow_clipboard_get_text;
    record->common.ClipboardSetText = mac_shadow_clipboard_set_text;
    record->common.ClipboardAvailable = mac_shadow_clipboard_available;
    record->common.ClipboardGetImage = mac_shadow_clipboard_get_image;
    record->common.ClipboardSetImage = mac_shadow_clipboard_set_image;
}

namespace {
constexpr uint64_t kPollIntervalMs = 250;
}

// A new client always hears of the desktop's clipboard, so that it can paste
// what was copied before it came.
void mac_shadow_clipboard_poll(macShadowSubsystem* record, uint64_t now, bool newClient) {
    if (record->nextClipboardPoll > now && !newClient)
        return;
    record->nextClipboardPoll = now + kPollIntervalMs;
    const int64_t count = mac_clipboard_change_count();
    if (count == record->clipboardChangeCount.load() && !newClient)
        return;
    record->clipboardChangeCount.store(count);
    shadow_server_cliprdr_notify_host_change(record->common.base.server);
}
