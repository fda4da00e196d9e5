// The virtual monitors of the GNOME session: one RecordVirtual stream each,
// with a PipeWire consumer of its own that asks for the monitor's size
// (mutter makes the monitor at the size its consumer agrees to). Display ids
// from 100 up; the capture service streams a virtual monitor from its
// consumer, input finds it by its place.
//
// Mirroring the real monitor cannot be had: mutter's virtual monitors extend
// the desktop. Nor can they be placed: mutter 43 puts each new one in a row
// to the right of those there are and offers no way to move it (its
// Parameters only report the place).
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
#include "gnome_pipewire.h"
#include "gnome_session.h"

namespace corvane::platform::gnome {

inline constexpr uint32_t kGnomeFirstVirtualId = 100;

struct GnomeVirtualMonitor {
    uint32_t id = 0;
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
    // Stops the monitor's consumer and stream; the monitor goes away.
    void remove(uint32_t id);

    std::vector<GnomeVirtualMonitor> list() const;
    std::optional<GnomeVirtualMonitor> find(uint32_t id) const;
    // The monitor's place read from mutter now (bounded); the last one known
    // when mutter does not answer in time.
    std::optional<GnomeStreamInfo> place(uint32_t id);

    struct Pending;

  private:
    void finishCreate(const std::shared_ptr<Pending>& pending);
    void dropAll();

    GnomeSession& session_;
    uint64_t endListener_ = 0;
    std::atomic<uint32_t> nextId_{kGnomeFirstVirtualId};
    mutable std::mutex mutex_;
    std::map<uint32_t, GnomeVirtualMonitor> monitors_;
};

// Reads a stream's Parameters, waiting at most `limit`.
std::optional<GnomeStreamInfo> gnomeReadGeometryWithin(GnomeSession& session,
                                                       const std::string& path,
                                                       std::chrono::milliseconds limit);

} // namespace corvane::platform::gnome
