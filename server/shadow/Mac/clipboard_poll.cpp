#include "clipboard_poll.h"

#include "../ext/cliprdr_channel.h"
#include "capture/mac_capture.h"

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
