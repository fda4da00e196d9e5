// The compositor's remote-desktop session: one per open, on a D-Bus
// connection of its own (mutter ties a session to the connection that made
// it and ends it when that connection goes). It links a screen-cast session,
// records the primary monitor with the cursor as metadata and waits for the
// stream's PipeWire node. Input and clipboard code make their calls on it
// through callSession() and subscribe() from any thread.
//
// Completions, signal handlers, replies and the ended handler run on the
// session's bus thread; they must not call open(), close() or the
// destructor.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "../session.h"
#include "gnome_bus.h"
#include "gnome_session_state.h"

namespace corvane::platform::gnome {

inline constexpr const char* kRemoteDesktopService = "org.gnome.Mutter.RemoteDesktop";
inline constexpr const char* kRemoteDesktopSessionInterface =
    "org.gnome.Mutter.RemoteDesktop.Session";
inline constexpr const char* kScreenCastService = "org.gnome.Mutter.ScreenCast";
inline constexpr const char* kScreenCastSessionInterface = "org.gnome.Mutter.ScreenCast.Session";
inline constexpr const char* kScreenCastStreamInterface = "org.gnome.Mutter.ScreenCast.Stream";
inline constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
// Cursor shape and position beside the picture, not drawn into it.
inline constexpr uint32_t kCursorModeMetadata = 2;

// The recorded monitor: its stream object, PipeWire node and place in the
// compositor's layout (logical pixels).
struct GnomeStreamInfo {
    std::string streamPath;
    uint32_t nodeId = 0;
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// Reads "position" and "size" (both (ii)) from a stream's Parameters
// property (a variant holding a{sv}); other entries are skipped. False when
// the message is not that or has no size.
bool gnomeReadStreamGeometry(sd_bus_message* m, GnomeStreamInfo& info);

class GnomeSession : public DesktopSession {
  public:
    explicit GnomeSession(GnomeSessionLimits limits = {}) : limits_(limits) {}
    ~GnomeSession() override;

    // Opens a session, or answers at once when one is running; a caller
    // arriving while one is opening waits for the same answer.
    void open(std::function<void(bool ok, const std::string& error)> done) override;
    // Stops the session (bounded) and drops the connection.
    void close() override;
    void setEndedHandler(std::function<void(const std::string& reason)> handler) override;

    bool running() const;
    std::string remoteDesktopPath() const;
    std::optional<GnomeStreamInfo> stream() const;

    // Calls a method of the remote-desktop session; the reply (optional)
    // runs on the bus thread. False when no session is running.
    bool callSession(const char* member, BusAppender args, BusReply reply = {});
    // Subscribes to a signal of the remote-desktop session for as long as
    // the session runs; an id for unsubscribe(), 0 when none is running.
    uint64_t subscribe(const char* member, BusSignal handler);
    void unsubscribe(uint64_t id);
    // Records a virtual monitor on the running session (RecordVirtual, and
    // Stream.Start, the session being started already). `added` runs once on
    // the bus thread with the stream's object path and PipeWire node, or with
    // an error (empty path). False when no session is running.
    using VirtualAdded =
        std::function<void(const std::string& path, uint32_t node, const std::string& error)>;
    bool recordVirtual(VirtualAdded added);
    // Stops one virtual monitor's stream (Stream.Stop), which takes the
    // monitor away on mutter 48; `done` runs on the bus thread, false where
    // streams cannot be stopped one by one (mutter 43) or no session runs.
    void stopVirtual(const std::string& path, std::function<void(bool stopped)> done);
    // Moves the pointer to a point of a stream's picture (stream pixels).
    // False when no session is running.
    bool pointerAt(const std::string& streamPath, double x, double y);
    // Puts the pointer at the middle of a stream's picture, which makes
    // mutter paint that monitor again. False when no session is running.
    bool pointerOver(const std::string& streamPath, int32_t width, int32_t height, int attempt);
    // Moves the pointer, which is at x,y of a stream's picture `width` wide,
    // one pixel aside and back, which makes mutter paint that monitor again
    // and leaves the pointer where it was. False when no session is running.
    bool pointerWiggle(const std::string& streamPath, int32_t x, int32_t y, int32_t width);
    // Internal services (capture) hear of every end, also close().
    uint64_t addEndListener(std::function<void(const std::string& reason)> listener);
    void removeEndListener(uint64_t id);

  private:
    using Done = std::function<void(bool, const std::string&)>;
    void apply(sd_bus* bus, const GnomeSessionEffect& effect);
    void makeCall(sd_bus* bus, GnomeSessionCall call);
    void answer(sd_bus* bus, bool ok, const std::string& error);
    void createRemoteDesktop(sd_bus* bus);
    void readSessionId(sd_bus* bus);
    void createScreenCast(sd_bus* bus);
    void recordMonitor(sd_bus* bus);
    void readStreamParameters(sd_bus* bus);
    void announceDevices(sd_bus* bus);
    void watchCompositor(sd_bus* bus);
    void report(const GnomeSessionEffect& effect);
    void dropSlots();
    void retireBus();

    GnomeSessionLimits limits_;
    // Only on the bus thread.
    GnomeSessionState state_{limits_};
    std::string sessionId_;
    std::string screenCastPath_;
    std::vector<sd_bus_slot*> ownSlots_;
    std::map<uint64_t, sd_bus_slot*> subscribed_;
    std::map<std::string, sd_bus_slot*> virtualSlots_; // by stream path

    mutable std::mutex mutex_; // guards everything below
    std::condition_variable finishedCv_;
    std::unique_ptr<GnomeBus> bus_;
    bool finished_ = true;
    bool running_ = false;
    std::vector<Done> waiting_;
    std::string remoteDesktopPath_;
    std::optional<GnomeStreamInfo> stream_;
    std::function<void(const std::string&)> endedHandler_;
    std::map<uint64_t, std::function<void(const std::string&)>> endListeners_;
    uint64_t nextId_ = 1;
};

} // namespace corvane::platform::gnome
