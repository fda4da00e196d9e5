// The virtual monitors of the GNOME session: one RecordVirtual stream each,
// with a PipeWire consumer of its own that asks for the monitor's size
// (mutter makes the monitor at the size its consumer agrees to). Display ids
// from 100 up; the capture service streams a virtual monitor from its
// consumer, input finds it by its place.
//
// A display given back stops its stream, which takes the monitor away on
// mutter 48. mutter 43 cannot remove one virtual monitor (a stream has no
// Stop, and a monitor outlives its consumer): there the display keeps its
// monitor, unlisted, and the next one asked for reuses it, resized by
// renegotiating its consumer's format. All of them go when the session ends.
//
// Mirroring the real monitor cannot be had: mutter's virtual monitors extend
// the desktop. Nor can they be placed: mutter 43 puts each new one in a row
// to the right of those there are and offers no way to move it. Their place
// and size come from mutter's monitor layout (DisplayConfig), where each is a
// connector and serial of its own; the stream's Parameters do not say them in
// 43.
//
// Threading: every call from any thread. Creation completes on a thread of
// its own once the monitor exists, or with null when it cannot be made or the
// session ends first.
#pragma once
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "../display_config.h"
#include "gnome_monitor_layout.h"
#include "gnome_pipewire.h"
#include "gnome_session.h"

namespace corvane::platform::gnome {

inline constexpr uint32_t kGnomeFirstVirtualId = 100;

struct GnomeVirtualMonitor {
    uint32_t id = 0;
    std::string identity;   // its connector and serial in mutter's layout
    GnomeStreamInfo stream; // path, node and the last place read
    std::shared_ptr<GnomeFrameSource> source;
};

class GnomeVirtualMonitors {
  public:
    explicit GnomeVirtualMonitors(GnomeSession& session);
    ~GnomeVirtualMonitors();

    // Opens the session when needed, records a monitor of the descriptor's
    // pixel size (always at 1x) and completes once mutter made it.
    void create(const VirtualDisplayDescriptor& descriptor, VirtualDisplayDone done);
    // Takes the display out of the list and its monitor off the desktop;
    // where mutter cannot (43), the monitor is kept for the next create().
    void remove(uint32_t id);

    std::vector<GnomeVirtualMonitor> list() const;
    std::optional<GnomeVirtualMonitor> find(uint32_t id) const;
    // The monitor's place read from mutter's layout now (bounded); the last
    // one known when mutter does not answer, nothing when it left the layout.
    std::optional<GnomeStreamInfo> place(uint32_t id);

    struct Pending;

  private:
    void finishCreate(const std::shared_ptr<Pending>& pending);
    std::optional<uint32_t> claim(const Pending& pending);
    bool reuseSpare(const std::shared_ptr<Pending>& pending);
    bool stopStream(const std::string& path);
    void dropAll();

    GnomeSession& session_;
    uint64_t endListener_ = 0;
    std::atomic<uint32_t> nextId_{kGnomeFirstVirtualId};
    mutable std::mutex mutex_;
    std::map<uint32_t, GnomeVirtualMonitor> monitors_;
    // Monitors given back, kept for reuse where mutter cannot remove them.
    std::vector<GnomeVirtualMonitor> spares_;
};

} // namespace corvane::platform::gnome
