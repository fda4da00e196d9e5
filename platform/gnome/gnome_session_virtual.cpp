// The session's virtual monitors: RecordVirtual on the linked screen-cast
// session and the stream's node from PipeWireStreamAdded, on the session's
// bus thread. mutter 48 takes a monitor away with its stream's Stop; mutter
// 43's streams have none, and a monitor lasts as long as the session.
#include "gnome_session.h"

namespace corvane::platform::gnome {

namespace {

std::string objectPath(sd_bus_message* reply) {
    const char* path = nullptr;
    if (!reply || sd_bus_message_read(reply, "o", &path) < 0 || !path)
        return {};
    return path;
}

} // namespace

bool GnomeSession::recordVirtual(VirtualAdded added) {
    std::lock_guard lock(mutex_);
    if (!running_ || !bus_)
        return false;
    return bus_->post([this, added = std::move(added)](sd_bus* bus) {
        GnomeBus::call(
            bus, kScreenCastService, screenCastPath_.c_str(), kScreenCastSessionInterface,
            "RecordVirtual",
            [](sd_bus_message* m) {
                return sd_bus_message_append(m, "a{sv}", 2, "cursor-mode", "u", kCursorModeMetadata,
                                             "is-platform", "b", 1);
            },
            [this, bus, added](sd_bus_message* reply, const std::string& error) {
                const std::string path = objectPath(reply);
                if (path.empty()) {
                    added({}, 0, error.empty() ? "RecordVirtual gave no stream" : error);
                    return;
                }
                sd_bus_slot* slot =
                    GnomeBus::match(bus, nullptr, path.c_str(), kScreenCastStreamInterface,
                                    "PipeWireStreamAdded", [added, path](sd_bus_message* m) {
                                        uint32_t node = 0;
                                        if (sd_bus_message_read(m, "u", &node) >= 0)
                                            added(path, node, {});
                                    });
                if (!slot) {
                    added({}, 0, "cannot watch the virtual stream");
                    return;
                }
                virtualSlots_[path] = slot;
                // Recorded after the session started: the stream starts on
                // its own call.
                GnomeBus::call(bus, kScreenCastService, path.c_str(), kScreenCastStreamInterface,
                               "Start", {},
                               [added](sd_bus_message* started, const std::string& why) {
                                   if (!started)
                                       added({}, 0, "the virtual stream did not start: " + why);
                               });
            });
    });
}

void GnomeSession::stopVirtual(const std::string& path, std::function<void(bool stopped)> done) {
    auto stop = [this, path, done](sd_bus* bus) {
        GnomeBus::call(bus, kScreenCastService, path.c_str(), kScreenCastStreamInterface, "Stop",
                       {}, [this, path, done](sd_bus_message* reply, const std::string&) {
                           if (reply) {
                               auto slot = virtualSlots_.find(path);
                               if (slot != virtualSlots_.end()) {
                                   sd_bus_slot_unref(slot->second);
                                   virtualSlots_.erase(slot);
                               }
                           }
                           done(reply != nullptr);
                       });
    };
    bool posted = false;
    {
        std::lock_guard lock(mutex_);
        posted = running_ && bus_ && bus_->post(std::move(stop));
    }
    if (!posted)
        done(false);
}

bool GnomeSession::pointerAt(const std::string& streamPath, double x, double y) {
    return callSession("NotifyPointerMotionAbsolute", [streamPath, x, y](sd_bus_message* m) {
        return sd_bus_message_append(m, "sdd", streamPath.c_str(), x, y);
    });
}

bool GnomeSession::pointerOver(const std::string& streamPath, int32_t width, int32_t height,
                               int attempt) {
    // One pixel apart every other time: mutter ignores a move to where the
    // pointer is.
    return pointerAt(streamPath, width / 2 + attempt % 2, height / 2);
}

bool GnomeSession::pointerWiggle(const std::string& streamPath, int32_t x, int32_t y,
                                 int32_t width) {
    const int32_t aside = x + 1 < width ? x + 1 : x - 1;
    return pointerAt(streamPath, aside, y) && pointerAt(streamPath, x, y);
}

} // namespace corvane::platform::gnome
