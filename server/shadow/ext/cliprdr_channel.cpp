// The clipboard channel per client. The channel's PDUs are read and written
// here over FreeRDP's virtual channel functions rather than through the
// library's cliprdr server: that one allocates whatever length a client
// announces and stops the channel on the first PDU it cannot parse, where a
// client's bad request must only be refused.
#include "cliprdr_channel.h"

#include <freerdp/log.h>
#include <winpr/synch.h>
#include <winpr/wtsapi.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "cliprdr_formats.h"
#include "shadow_ext.h"

#define TAG SERVER_TAG("shadow.ext.cliprdr")

namespace {

using namespace shadow_ext::cliprdr;

bool sameName(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

class ClipChannel {
  public:
    ClipChannel(rdpShadowSubsystemExt* subsystem, HANDLE channel, HANDLE channelEvent)
        : subsystem_(subsystem), channel_(channel), channelEvent_(channelEvent),
          stopEvent_(CreateEvent(nullptr, TRUE, FALSE, nullptr)),
          notifyEvent_(CreateEvent(nullptr, TRUE, FALSE, nullptr)) {}

    ~ClipChannel() {
        if (stopEvent_)
            SetEvent(stopEvent_);
        if (thread_.joinable())
            thread_.join();
        WTSVirtualChannelClose(channel_);
        if (stopEvent_)
            CloseHandle(stopEvent_);
        if (notifyEvent_)
            CloseHandle(notifyEvent_);
    }

    bool start() {
        if (!stopEvent_ || !notifyEvent_)
            return false;
        thread_ = std::thread([this] { run(); });
        return true;
    }

    void notifyHostChange() { SetEvent(notifyEvent_); }

  private:
    void run() {
        send(kClipCaps, 0, encodeCapabilities(kUseLongFormatNames));
        send(kMonitorReady, 0, {});
        HANDLE events[] = {stopEvent_, channelEvent_, notifyEvent_};
        std::vector<uint8_t> buffer(64 * 1024);
        for (;;) {
            const DWORD status = WaitForMultipleObjects(3, events, FALSE, INFINITE);
            if (status == WAIT_OBJECT_0 || status == WAIT_FAILED)
                break;
            if (WaitForSingleObject(notifyEvent_, 0) == WAIT_OBJECT_0) {
                ResetEvent(notifyEvent_);
                hostChanged_ = true;
            }
            for (;;) {
                ULONG got = 0;
                if (!WTSVirtualChannelRead(channel_, 0, reinterpret_cast<PCHAR>(buffer.data()),
                                           static_cast<ULONG>(buffer.size()), &got) ||
                    got == 0)
                    break;
                reader_.feed(buffer.data(), got, [this](const Pdu& pdu) { onPdu(pdu); });
            }
            if (hostChanged_ && ready_) {
                hostChanged_ = false;
                offerHostFormats();
            }
        }
    }

    void send(uint16_t type, uint16_t flags, const std::vector<uint8_t>& body) {
        std::vector<uint8_t> pdu = encodePdu(type, flags, body);
        ULONG written = 0;
        if (!WTSVirtualChannelWrite(channel_, reinterpret_cast<PCHAR>(pdu.data()),
                                    static_cast<ULONG>(pdu.size()), &written))
            WLog_WARN(TAG, "clipboard channel: a PDU of type %u could not be sent", type);
    }

    void onPdu(const Pdu& pdu) {
        if (pdu.oversized) {
            WLog_WARN(TAG, "clipboard channel: refused a PDU of type %u with %u bytes (too large)",
                      pdu.type, pdu.length);
            if (pdu.type == kFormatList)
                send(kFormatListResponse, kResponseFail, {});
            if (pdu.type == kFormatDataResponse)
                requested_ = 0;
            return;
        }
        switch (pdu.type) {
        case kClipCaps:
            if (auto flags = parseCapabilities(pdu.body))
                longNames_ = (*flags & kUseLongFormatNames) != 0;
            ready_ = true;
            break;
        case kFormatList:
            onClientFormatList(pdu);
            break;
        case kFormatDataRequest:
            onDataRequest(pdu);
            break;
        case kFormatDataResponse:
            onDataResponse(pdu);
            break;
        case kFileContentsRequest:
            // Files are not shared: every request is answered with a failure.
            if (pdu.body.size() >= 4)
                send(kFileContentsResponse, kResponseFail,
                     std::vector<uint8_t>(pdu.body.begin(), pdu.body.begin() + 4));
            break;
        default:
            break; // responses, directories and locks need nothing from us
        }
    }

    // The desktop's clipboard as formats; its data is read only when the
    // client asks for it.
    void offerHostFormats() {
        std::vector<ClipFormat> formats;
        const UINT32 available = !allowed_.load()              ? 0
                                 : subsystem_->ClipboardAvailable ? subsystem_->ClipboardAvailable(&subsystem_->base)
                                                                  : 0;
        if (available & 1)
            formats.push_back({kCfUnicodeText, ""});
        if (available & 2)
            formats.push_back({kCfDib, ""});
        send(kFormatList, 0, encodeFormatList(formats, longNames_));
    }

    // The client copied something: it is fetched now (the subsystem takes
    // contents, not promises), one format, text before pictures.
    void onClientFormatList(const Pdu& pdu) {
        ready_ = true;
        auto formats = parseFormatList(pdu.body, pdu.flags, longNames_);
        if (!formats) {
            WLog_WARN(TAG, "clipboard channel: refused a malformed format list (%u bytes)",
                      pdu.length);
            send(kFormatListResponse, kResponseFail, {});
            return;
        }
        send(kFormatListResponse, kResponseOk, {});
        // A view-only client's copy is fetched too and dropped on arrival
        // (onDataResponse): FreeRDP's X11 client announces no further copy
        // after a format list the server never asked data for, so one made
        // before its first copy in control would leave it unable to copy
        // once given control. What was copied in view-only mode stays
        // dropped even when control comes back before it arrives.
        requestedAllowed_ = allowed_.load();
        uint32_t text = 0, png = 0, dib = 0;
        for (const auto& f : *formats) {
            if (f.id == kCfUnicodeText)
                text = f.id;
            else if (f.id == kCfDib || (f.id == kCfDibV5 && dib == 0))
                dib = f.id;
            else if (!f.name.empty() && (sameName(f.name, "PNG") || sameName(f.name, "image/png")))
                png = f.id;
        }
        requested_ = text ? text : png ? png : dib;
        requestedPng_ = requested_ != 0 && requested_ == png;
        if (requested_ != 0) {
            std::vector<uint8_t> body(4);
            std::memcpy(body.data(), &requested_, 4); // little-endian host
            send(kFormatDataRequest, 0, body);
        }
    }

    void onDataRequest(const Pdu& pdu) {
        if (pdu.body.size() < 4) {
            send(kFormatDataResponse, kResponseFail, {});
            return;
        }
        uint32_t id = 0;
        std::memcpy(&id, pdu.body.data(), 4);
        std::vector<uint8_t> data;
        bool ok = false;
        if (!allowed_.load()) {
            // nothing of the desktop's clipboard for a view-only client
        } else if (id == kCfUnicodeText && subsystem_->ClipboardGetText) {
            char* text = nullptr;
            if (subsystem_->ClipboardGetText(&subsystem_->base, &text) && text) {
                data = utf8ToUtf16(text);
                ok = true;
            }
            std::free(text);
        } else if (id == kCfDib && subsystem_->ClipboardGetImage) {
            BYTE* pixels = nullptr;
            UINT32 width = 0, height = 0;
            if (subsystem_->ClipboardGetImage(&subsystem_->base, &pixels, &width, &height) &&
                pixels && corvane::capture::pictureSizeAllowed(width, height)) {
                corvane::capture::Picture picture{
                    width, height,
                    std::vector<uint8_t>(pixels, pixels + size_t(width) * height * 4)};
                data = encodeDib(picture);
                ok = true;
            }
            std::free(pixels);
        }
        send(kFormatDataResponse, ok ? kResponseOk : kResponseFail, data);
    }

    void onDataResponse(const Pdu& pdu) {
        const uint32_t id = requested_;
        requested_ = 0;
        if (id == 0 || (pdu.flags & kResponseFail) || !requestedAllowed_ || !allowed_.load())
            return;
        if (id == kCfUnicodeText) {
            auto text = utf16ToUtf8(pdu.body.data(), pdu.body.size());
            if (!text) {
                WLog_WARN(TAG, "clipboard channel: refused malformed text (%u bytes)", pdu.length);
                return;
            }
            if (subsystem_->ClipboardSetText)
                subsystem_->ClipboardSetText(&subsystem_->base, text->c_str());
            return;
        }
        std::optional<corvane::capture::Picture> picture =
            requestedPng_ ? corvane::capture::decodePng(pdu.body.data(), pdu.body.size())
                          : parseDib(pdu.body.data(), pdu.body.size());
        if (!picture) {
            WLog_WARN(TAG,
                      "clipboard channel: refused a picture that is malformed or larger than "
                      "8192 x 8192 or 16 mebipixels (%u bytes)",
                      pdu.length);
            return;
        }
        if (subsystem_->ClipboardSetImage)
            subsystem_->ClipboardSetImage(&subsystem_->base, picture->bgra.data(), picture->width,
                                          picture->height);
    }

  public:
    // Set by the control channel's thread, read by the channel's thread.
    std::atomic<bool> allowed_{true};

  private:
    rdpShadowSubsystemExt* subsystem_;
    HANDLE channel_;
    HANDLE channelEvent_;
    HANDLE stopEvent_;
    HANDLE notifyEvent_;
    std::thread thread_;
    // Channel thread state.
    PduReader reader_;
    bool longNames_ = false;
    bool ready_ = false;
    bool hostChanged_ = false;
    uint32_t requested_ = 0;
    bool requestedPng_ = false;
    bool requestedAllowed_ = false; // the copy was made with the clipboard allowed
};

std::mutex gMutex;
std::unordered_map<rdpShadowClient*, std::unique_ptr<ClipChannel>>& channels() {
    static auto* table = new std::unordered_map<rdpShadowClient*, std::unique_ptr<ClipChannel>>();
    return *table;
}
std::unordered_set<rdpShadowClient*>& denied() { // under gMutex
    static auto* set = new std::unordered_set<rdpShadowClient*>();
    return *set;
}
std::atomic<uint64_t> gNotices{0};
std::atomic<pfnShadowClientConnect> gNextConnect{nullptr};
std::atomic<pfnShadowClientDisconnect> gNextDisconnect{nullptr};

void openChannel(rdpShadowSubsystem* subsystem, rdpShadowClient* client) {
    if (!client->mayInteract || !client->vcm)
        return;
    HANDLE channel =
        WTSVirtualChannelOpen(client->vcm, WTS_CURRENT_SESSION, const_cast<char*>("cliprdr"));
    if (!channel)
        return; // the client did not ask for the clipboard
    void* buffer = nullptr;
    DWORD length = 0;
    HANDLE event = nullptr;
    if (WTSVirtualChannelQuery(channel, WTSVirtualEventHandle, &buffer, &length) &&
        length == sizeof(HANDLE))
        std::memcpy(&event, buffer, sizeof(HANDLE));
    WTSFreeMemory(buffer);
    if (!event) {
        WTSVirtualChannelClose(channel);
        WLog_WARN(TAG, "clipboard channel: no event handle, clipboard off for this client");
        return;
    }
    auto clip = std::make_unique<ClipChannel>(reinterpret_cast<rdpShadowSubsystemExt*>(subsystem),
                                              channel, event);
    if (!clip->start()) {
        WLog_WARN(TAG, "clipboard channel: could not start, clipboard off for this client");
        return;
    }
    std::lock_guard lock(gMutex);
    clip->allowed_.store(denied().count(client) == 0);
    channels()[client] = std::move(clip);
}

void closeChannel(rdpShadowClient* client) {
    std::unique_ptr<ClipChannel> clip;
    {
        std::lock_guard lock(gMutex);
        auto it = channels().find(client);
        if (it == channels().end())
            return;
        clip = std::move(it->second);
        channels().erase(it);
    }
    clip.reset(); // joins the channel's thread outside the lock
}

BOOL connectWithClipboard(rdpShadowSubsystem* subsystem, rdpShadowClient* client) {
    const pfnShadowClientConnect next = gNextConnect.load();
    if (next && !next(subsystem, client))
        return FALSE;
    openChannel(subsystem, client);
    return TRUE;
}

void disconnectWithClipboard(rdpShadowSubsystem* subsystem, rdpShadowClient* client) {
    closeChannel(client);
    {
        std::lock_guard lock(gMutex);
        denied().erase(client);
    }
    if (const pfnShadowClientDisconnect next = gNextDisconnect.load())
        next(subsystem, client);
}

} // namespace

extern "C" BOOL shadow_ext_install_cliprdr(rdpShadowServer* server) {
    if (!server || !server->subsystem)
        return FALSE;
    const char* setting = std::getenv("MAC_SHADOW_CLIPBOARD");
    if (setting && setting[0] == '0')
        return TRUE;
    rdpShadowSubsystem* subsystem = server->subsystem;
    if (subsystem->ClientConnect != connectWithClipboard) {
        gNextConnect.store(subsystem->ClientConnect);
        gNextDisconnect.store(subsystem->ClientDisconnect);
        subsystem->ClientConnect = connectWithClipboard;
        subsystem->ClientDisconnect = disconnectWithClipboard;
    }
    return TRUE;
}

extern "C" void shadow_server_cliprdr_notify_host_change(rdpShadowServer* server) {
    (void)server; // one server per process
    gNotices.fetch_add(1);
    std::lock_guard lock(gMutex);
    for (auto& [client, clip] : channels())
        clip->notifyHostChange();
}

extern "C" void shadow_ext_cliprdr_set_allowed(rdpShadowClient* client, BOOL allowed) {
    std::lock_guard lock(gMutex);
    if (allowed)
        denied().erase(client);
    else
        denied().insert(client);
    auto it = channels().find(client);
    if (it == channels().end())
        return;
    it->second->allowed_.store(allowed != FALSE);
    // The client's copy of the desktop's clipboard goes (or comes back).
    it->second->notifyHostChange();
}

extern "C" size_t shadow_ext_cliprdr_channels(void) {
    std::lock_guard lock(gMutex);
    return channels().size();
}

extern "C" uint64_t shadow_ext_cliprdr_notices(void) {
    return gNotices.load();
}
