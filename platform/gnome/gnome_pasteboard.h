// The desktop's clipboard through the remote-desktop session's clipboard
// (EnableClipboard, SelectionOwnerChanged, SelectionRead, SetSelection,
// SelectionTransfer/SelectionWrite). Text and pictures, with the limits of
// the X11 backend: a read that stalls for 3 s or takes more than 60 s, or
// grows past 96 MiB, gives nothing. The clipboard is switched on for each
// new session the first time the pasteboard is used with it; the change
// count starts from what this process has seen.
#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "../pasteboard.h"
#include "gnome_session.h"

namespace corvane::platform::gnome {

// Reads SelectionOwnerChanged's dictionary: the "mime-types" list (mutter
// wraps it in a tuple, (as); a bare as is taken too) and "session-is-owner".
void gnomeReadOwnerChange(sd_bus_message* m, std::vector<std::string>& mimes, bool& ours);

class GnomePasteboard : public Pasteboard {
  public:
    explicit GnomePasteboard(GnomeSession& session);
    ~GnomePasteboard() override;
    int64_t changeCount() override;
    uint32_t types() override;
    std::optional<std::vector<uint8_t>> read(PasteboardType type) override;
    bool write(PasteboardType type, std::vector<uint8_t> data) override;

    // Shared with the bus thread's handlers, which may outlive a call.
    struct State;

  private:
    bool enabled();

    GnomeSession& session_;
    std::shared_ptr<State> state_;
};

} // namespace corvane::platform::gnome
